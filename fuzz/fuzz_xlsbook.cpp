// libFuzzer target: loading a workbook from bytes must never crash, leak or hang.
// Input that starts with the compound-file signature goes through the container; anything else
// is taken as a bare "Workbook" stream, so the record parser is reached directly too. A loaded
// workbook is written again and must load again with the same sheets.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "xlsbook/workbook_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::vector<uint8_t> bytes(data, data + size);
    xlsbook::WorkbookFile book;
    bool loaded;
    if (size >= 8 && std::equal(kSignature, kSignature + 8, data))
        loaded = book.load_bytes(std::move(bytes));
    else
        loaded = book.load_stream(bytes);
    if (!loaded) return 0;

    const std::vector<uint8_t> written = book.build_stream();
    xlsbook::WorkbookFile again;
    if (!again.load_stream(written) || again.worksheet_count() != book.worksheet_count()) std::abort();
    for (size_t i = 0; i < book.worksheet_count(); ++i) {
        const xlsbook::WorksheetView* a = book.worksheet(i);
        const xlsbook::WorksheetView* b = again.worksheet(i);
        if (a->name() != b->name()) std::abort();
    }
    return 0;
}
