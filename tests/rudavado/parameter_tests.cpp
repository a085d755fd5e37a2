// The ability record, export to .cfg and import from it.
#include <cstring>
#include <memory>

#include "rudavado_test_support.h"

using rdvtest::fromGb2312;
using rdvtest::NetworkTest;

namespace {

class ParameterTest : public NetworkTest {
protected:
    std::unique_ptr<KP_PARAM_IMPORT_ABILITY_V2> ability(KPLPRC_HANDLE h) {
        auto a = std::make_unique<KP_PARAM_IMPORT_ABILITY_V2>();
        std::memset(a.get(), 0, sizeof *a);
        EXPECT_EQ(0, KpLPRClient_GetConfig(h, KP_GET_IMPORT_PARAM_ABILITY_EX, 0, a.get(), sizeof *a));
        return a;
    }
    std::string param(int cam, const char* group, const char* item) {
        char v[128] = {};
        EXPECT_EQ(0, RuDAVADO_GetParam(cam, group, item, v, sizeof v)) << group << "/" << item;
        return v;
    }
    // Unselects the items named (UTF-8) in every group.
    static void unselect(KP_PARAM_IMPORT_ABILITY_V2& a, const std::string& item_utf8) {
        for (int g = 0; g < a.group_count; ++g) {
            for (int i = 0; i < a.groups[g].item_count; ++i) {
                if (fromGb2312(a.groups[g].items[i].name) == item_utf8) a.groups[g].items[i].selected = 0;
            }
        }
    }
};

TEST_F(ParameterTest, AbilityRecordCarriesGb2312NamesAtTheDocumentedOffsets) {
    KPLPRC_HANDLE h = open("192.168.1.100");
    auto a = ability(h);
    const unsigned char* raw = reinterpret_cast<const unsigned char*>(a.get());
    auto le32 = [&](size_t at) {
        return static_cast<int>(raw[at] | raw[at + 1] << 8 | raw[at + 2] << 16 | raw[at + 3] << 24);
    };
    const int groups = le32(827648);
    EXPECT_EQ(4, groups);
    const size_t group1 = 12932;
    EXPECT_EQ("识别参数", fromGb2312(reinterpret_cast<const char*>(raw + 12804)));
    EXPECT_EQ("图像参数", fromGb2312(reinterpret_cast<const char*>(raw + group1 + 12804)));
    EXPECT_EQ(5, le32(12800));
    EXPECT_EQ(1, le32(0)) << "items start selected";
    EXPECT_EQ("识别区域", fromGb2312(reinterpret_cast<const char*>(raw + 72)));
    EXPECT_EQ("最小车牌宽度", fromGb2312(reinterpret_cast<const char*>(raw + 200 + 72)));
    EXPECT_NE(std::string(reinterpret_cast<const char*>(raw + 72)), "识别区域")
        << "names are GB2312, not UTF-8";
    // Unused entries stay zero.
    EXPECT_EQ(0, raw[group1 * 10 + 12804]);

    auto face = ability(open("192.168.1.110"));
    EXPECT_EQ("人脸识别", fromGb2312(face->groups[0].name));
    EXPECT_EQ(KPLPRC_DEVICE_FACE, face->device_type);
}

TEST_F(ParameterTest, GetConfigRefusesOtherCommandsAndShortBuffers) {
    KPLPRC_HANDLE h = open("192.168.1.100");
    auto a = std::make_unique<KP_PARAM_IMPORT_ABILITY_V2>();
    EXPECT_EQ(-1, KpLPRClient_GetConfig(h, 3023, 0, a.get(), sizeof *a));
    EXPECT_EQ(KPLPRC_ERR_NOT_SUPPORTED, KpLPRClient_GetLastError());
    EXPECT_EQ(-1, KpLPRClient_GetConfig(h, KP_GET_IMPORT_PARAM_ABILITY_EX, 0, a.get(), 827715));
    EXPECT_EQ(KPLPRC_ERR_PARAMETER, KpLPRClient_GetLastError());
    EXPECT_EQ(-1, KpLPRClient_GetConfig(h, KP_GET_IMPORT_PARAM_ABILITY_EX, 1, a.get(), sizeof *a));
    EXPECT_EQ(-1, KpLPRClient_GetConfig(h, KP_GET_IMPORT_PARAM_ABILITY_EX, 0, nullptr, sizeof *a));
}

TEST_F(ParameterTest, ExportWritesOnlyTheSelectedItemsAsReadableText) {
    const int cam = camera("192.168.1.100");
    ASSERT_EQ(0, RuDAVADO_SetParam(cam, "识别参数", "省份优先", "粤"));
    KPLPRC_HANDLE h = open("192.168.1.100");
    auto a = ability(h);
    for (int i = 0; i < a->groups[1].item_count; ++i) a->groups[1].items[i].selected = 0;
    unselect(*a, "时区");
    const std::string file = path("192.168.1.100_20240305070809.cfg");
    ASSERT_EQ(0, KpLPRClient_ParaExportV2(h, a.get(), file.c_str()));

    // Values must survive the trip through a GB2312 file.
    EXPECT_EQ(-1, RuDAVADO_SetParam(cam, "识别参数", "省份优先", "\xF0\x9F\x98\x80"));
    EXPECT_EQ(-1, RuDAVADO_SetParam(cam, "识别参数", "省份优先", "\xE4\xB8"));

    const std::string text = fromGb2312(rdvtest::readAll(file));
    EXPECT_EQ(0u, text.find(";KPCFG 2\r\n;family=KP-LPR-V3\r\n"));
    EXPECT_NE(std::string::npos, text.find("[识别参数]\r\n识别区域=0,0,1920,1080\r\n"));
    EXPECT_NE(std::string::npos, text.find("省份优先=粤\r\n"));
    EXPECT_EQ(std::string::npos, text.find("[图像参数]"));
    EXPECT_EQ(std::string::npos, text.find("时区="));
    EXPECT_NE(std::string::npos, text.find("NTP服务器=pool.ntp.org"));
    // 4 groups of 5, 5, 4 and 4 items, less the 5 image items and the time zone.
    EXPECT_NE(std::string::npos, text.find(";end items=12\r\n"));

    // Exporting again under the same name replaces the file (a plain rename refuses that on Windows).
    ASSERT_EQ(0, KpLPRClient_ParaExportV2(h, a.get(), file.c_str()));
    EXPECT_EQ(text, fromGb2312(rdvtest::readAll(file)));
}

TEST_F(ParameterTest, ExportRefusesBrokenRecordsAndUnwritablePaths) {
    KPLPRC_HANDLE h = open("192.168.1.100");
    auto a = ability(h);
    EXPECT_EQ(-1, KpLPRClient_ParaExportV2(h, a.get(), path("no/such/folder/x.cfg").c_str()));
    EXPECT_EQ(KPLPRC_ERR_FILE, KpLPRClient_GetLastError());
    EXPECT_EQ(-1, KpLPRClient_ParaExportV2(h, a.get(), nullptr));
    EXPECT_EQ(-1, KpLPRClient_ParaExportV2(h, nullptr, path("x.cfg").c_str()));

    auto broken = ability(h);
    broken->group_count = 65;
    EXPECT_EQ(-1, KpLPRClient_ParaExportV2(h, broken.get(), path("x.cfg").c_str()));
    EXPECT_EQ(KPLPRC_ERR_PARAMETER, KpLPRClient_GetLastError());
    broken = ability(h);
    broken->groups[2].item_count = -1;
    EXPECT_EQ(-1, KpLPRClient_ParaExportV2(h, broken.get(), path("x.cfg").c_str()));

    // Names that fill their field without a terminator are read up to the field's end.
    broken = ability(h);
    std::memset(broken->groups[0].name, 'A', sizeof broken->groups[0].name);
    std::memset(broken->groups[1].items[0].name, 0xFF, sizeof broken->groups[1].items[0].name);
    ASSERT_EQ(0, KpLPRClient_ParaExportV2(h, broken.get(), path("x.cfg").c_str()));
    EXPECT_EQ(std::string::npos, fromGb2312(rdvtest::readAll(path("x.cfg"))).find("[识别参数]"));
}

TEST_F(ParameterTest, ImportAppliesAnExportOfTheSameFamily) {
    const int from = camera("192.168.1.100");
    const int to = camera("192.168.1.101");
    ASSERT_EQ(0, RuDAVADO_SetParam(from, "图像参数", "亮度", "77"));
    ASSERT_EQ(0, RuDAVADO_SetParam(from, "输出参数", "推送地址", "http://10.0.0.9/push"));
    ASSERT_EQ(0, RuDAVADO_SetParam(from, "识别参数", "省份优先", "沪"));
    ASSERT_EQ(0, RuDAVADO_SetParam(to, "系统参数", "时区", "-5"));
    KPLPRC_HANDLE a = open("192.168.1.100");
    auto rec = ability(a);
    unselect(*rec, "时区");
    const std::string file = path("a.cfg");
    ASSERT_EQ(0, KpLPRClient_ParaExportV2(a, rec.get(), file.c_str()));

    KPLPRC_HANDLE b = open("192.168.1.101");
    ASSERT_EQ(0, KpLPRClient_ParaImportV2(b, file.c_str()));
    EXPECT_EQ("77", param(to, "图像参数", "亮度"));
    EXPECT_EQ("http://10.0.0.9/push", param(to, "输出参数", "推送地址"));
    EXPECT_EQ("沪", param(to, "识别参数", "省份优先"));
    EXPECT_EQ("-5", param(to, "系统参数", "时区")) << "items not in the file stay";

    // Line ends written by other editors are accepted.
    std::string lf = rdvtest::readAll(file);
    for (size_t p; (p = lf.find("\r\n")) != std::string::npos;) lf.erase(p, 1);
    rdvtest::writeAll(path("lf.cfg"), lf);
    EXPECT_EQ(0, KpLPRClient_ParaImportV2(b, path("lf.cfg").c_str()));
}

TEST_F(ParameterTest, ImportRefusesMalformedAndForeignFilesWithoutChangingAnything) {
    KPLPRC_HANDLE plate = open("192.168.1.100");
    const std::string good = path("good.cfg");
    ASSERT_EQ(0, RuDAVADO_SetParam(camera("192.168.1.100"), "图像参数", "亮度", "10"));
    ASSERT_EQ(0, KpLPRClient_ParaExportV2(plate, ability(plate).get(), good.c_str()));
    const std::string content = rdvtest::readAll(good);
    KPLPRC_HANDLE face = open("192.168.1.110");
    const std::string face_file = path("face.cfg");
    ASSERT_EQ(0, KpLPRClient_ParaExportV2(face, ability(face).get(), face_file.c_str()));
    const std::string older = path("older.cfg");
    KPLPRC_HANDLE old_model = open("192.168.1.105");
    ASSERT_EQ(0, KpLPRClient_ParaExportV2(old_model, ability(old_model).get(), older.c_str()));

    auto variant = [&](const std::string& name, const std::string& bytes) {
        rdvtest::writeAll(path(name), bytes);
        return path(name);
    };
    auto replaced = [&](const std::string& from_utf8, const std::string& to_utf8) {
        std::string t = content;
        const std::string f = rdvtest::toGb2312(from_utf8);
        t.replace(t.find(f), f.size(), rdvtest::toGb2312(to_utf8));
        return t;
    };
    std::string binary(4096, '\0');
    for (size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<char>((i * 131) & 0xFF);

    struct {
        std::string file;
        int error;
    } cases[] = {
        {variant("truncated.cfg", content.substr(0, content.size() / 2)), KPLPRC_ERR_FORMAT},
        {variant("no_end.cfg", content.substr(0, content.rfind(";end"))), KPLPRC_ERR_FORMAT},
        {variant("binary.cfg", binary), KPLPRC_ERR_FORMAT},
        {variant("empty.cfg", ""), KPLPRC_ERR_FORMAT},
        {face_file, KPLPRC_ERR_FORMAT},  // the other kind of camera
        {older, KPLPRC_ERR_FORMAT},      // the older plate model
        {variant("range.cfg", replaced("亮度=10", "亮度=101")), KPLPRC_ERR_FORMAT},
        {variant("unknown.cfg", replaced("亮度=10", "色温=10")), KPLPRC_ERR_FORMAT},
        {variant("count.cfg", replaced(";end items=18", ";end items=17")), KPLPRC_ERR_FORMAT},
        {variant("magic.cfg", replaced(";KPCFG 2", ";KPCFG 3")), KPLPRC_ERR_FORMAT},
        {variant("utf8.cfg", fromGb2312(content)), KPLPRC_ERR_FORMAT},
        {path("missing.cfg"), KPLPRC_ERR_FILE},
    };
    ASSERT_EQ(0, RuDAVADO_SetParam(camera("192.168.1.100"), "图像参数", "亮度", "33"));
    for (auto& c : cases) {
        EXPECT_EQ(-1, KpLPRClient_ParaImportV2(plate, c.file.c_str())) << c.file;
        EXPECT_EQ(c.error, KpLPRClient_GetLastError()) << c.file;
    }
    EXPECT_EQ("33", param(camera("192.168.1.100"), "图像参数", "亮度"));
    EXPECT_EQ(0, KpLPRClient_ParaImportV2(plate, good.c_str()));
    EXPECT_EQ("10", param(camera("192.168.1.100"), "图像参数", "亮度"));
}

}  // namespace
