// Parameter files (.cfg) written by KpLPRClient_ParaExportV2 and read by KpLPRClient_ParaImportV2.
//
// GB2312 text, one entry per line (CR LF or LF):
//   ;KPCFG 2                      first line, always
//   ;family=KP-LPR-V3             header lines ";key=value"; family is required
//   ;serial=4b504c03-000003e9
//   ;exported=2024-03-05 07:08:09
//   [识别参数]                    a parameter group
//   最小车牌宽度=80               an item of the group above and its value
//   ;end items=12                 last line: the number of items above it
// Blank lines are ignored. A file without its last line is taken as truncated.
#pragma once

#include <string>
#include <vector>

#include "RuDAVADO.h"
#include "camera.h"

namespace rudavado {

// Checks the counts of a caller's ability record; false when they are out of range.
bool abilityIsSane(const KP_PARAM_IMPORT_ABILITY_V2& ability);
// Fills the record with every group and item of the camera, all selected.
void fillAbility(const Camera& c, KP_PARAM_IMPORT_ABILITY_V2& ability);

// The file's bytes for the selected items of `ability` that the camera has.
std::string exportParams(const Camera& c, const KP_PARAM_IMPORT_ABILITY_V2& ability);

struct ParamChange {
    size_t group;
    size_t item;
    std::string value;
};
// Reads a file for cameras of `family`; false (nothing in `changes`) when it is malformed,
// truncated, binary, or made for another family.
bool parseParamFile(const std::string& content, const Family& family, std::vector<ParamChange>& changes);

}  // namespace rudavado
