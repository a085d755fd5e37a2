// The checks after a batch: a camera that reported success must be seen running the change.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "batch_verify.h"
#include "factory_test_support.h"

using namespace factory_test;

namespace {

factory::dealmodule::LoginData Login(const std::string& ip) { return {ip, 80, kUser, kPassword}; }

// Upgrades through a composer as a batch does; the final report.
Report Upgrade(const std::string& ip, const std::string& package) {
    auto deal = std::make_shared<factory::dealmodule>();
    EXPECT_TRUE(deal->InitModules(0));
    ReportLog log;
    deal->Upgrade(ip, 80, kUser, kPassword, package, log.callback(), [](int, int) {});
    EXPECT_TRUE(log.waitFinal());
    deal->StopWorker();
    return log.reports().back();
}

}  // namespace

TEST(BatchVerifyTest, AnUpgradeIsVerifiedOnlyWhenTheCameraRunsThePackagesVersion) {
    LoadNetwork(3, kPlateFamily);
    TempDir dir;
    // Several packages: the one for the camera's family counts.
    const std::string package = dir.write("face.bin", FirmwarePackage(kFaceFamily, "9.9.9.9")) + "|" +
                                dir.write("plate.bin", FirmwarePackage(kPlateFamily, "3.2.1.16"));
    std::string family, version;
    ASSERT_TRUE(factory::ReadPackageVersion(dir.path("plate.bin"), &family, &version));
    EXPECT_EQ(family, kPlateFamily);
    EXPECT_EQ(version, "3.2.1.16");

    std::string before, why, after;
    ASSERT_TRUE(factory::ReadFirmwareVersion(Login(CameraIp(0)), &before, &why)) << why;
    EXPECT_EQ(before, "3.2.1.15");
    ASSERT_EQ(Upgrade(CameraIp(0), package), Report(true, "完成"));
    factory::Verification verification = factory::VerifyUpgrade(Login(CameraIp(0)), package, before, &after);
    EXPECT_TRUE(verification.verified);
    EXPECT_EQ(verification.text, "verified");
    EXPECT_EQ(after, "3.2.1.16");

    // The restart that would start the new image is refused: the upgrade still says "完成".
    ASSERT_EQ(0, RuDAVADO_FailNext("KpLPRClient_RebootDevice", 1, 1));
    ASSERT_EQ(Upgrade(CameraIp(1), package), Report(true, "完成"));
    verification = factory::VerifyUpgrade(Login(CameraIp(1)), package, before, &after);
    EXPECT_FALSE(verification.verified);
    EXPECT_EQ(verification.text, "not verified: runs 3.2.1.15 instead of 3.2.1.16");
    EXPECT_EQ(after, "3.2.1.15");

    // A package that cannot be read leaves the version before as the only measure.
    verification = factory::VerifyUpgrade(Login(CameraIp(2)), dir.path("gone.bin"), "3.2.1.15", &after);
    EXPECT_EQ(verification.text, "not verified: still runs 3.2.1.15");
    verification = factory::VerifyUpgrade(Login(CameraIp(2)), dir.path("gone.bin"), "3.0.0.1", &after);
    EXPECT_TRUE(verification.verified);
    EXPECT_EQ(0, CameraState(2).sessions);
}

TEST(BatchVerifyTest, ACameraThatDoesNotAnswerIsNotVerified) {
    LoadNetwork(2, kPlateFamily);
    TempDir dir;
    const std::string package = dir.write("plate.bin", FirmwarePackage(kPlateFamily, "3.2.1.16"));
    ASSERT_EQ(0, RuDAVADO_SetPower(0, 0));
    std::string version = "stale", why;
    EXPECT_FALSE(factory::ReadFirmwareVersion(Login(CameraIp(0)), &version, &why));
    EXPECT_EQ(version, "");
    EXPECT_FALSE(why.empty());
    std::string after = "stale";
    const factory::Verification verification =
        factory::VerifyUpgrade(Login(CameraIp(0)), package, "3.2.1.15", &after);
    EXPECT_FALSE(verification.verified);
    EXPECT_EQ(verification.text.rfind("not verified: the camera did not come back after 80 attempts", 0), 0u)
        << verification.text;
    EXPECT_EQ(after, "");
    // A wrong password is no answer either.
    EXPECT_FALSE(factory::ReadFirmwareVersion({CameraIp(1), 80, kUser, "wrong"}, &version, &why));
}

TEST(BatchVerifyTest, AnAddressChangeIsVerifiedAtTheNewAddress) {
    LoadNetwork(1, kPlateFamily);
    const RuDAVADO_CameraState camera = CameraState(0);
    auto deal = std::make_shared<factory::dealmodule>();
    ASSERT_TRUE(deal->InitModules(0));
    ReportLog log;
    deal->ModifyIp(camera.serial_high, camera.serial_low, "10.0.9.9", "10.0.255.254", "255.255.0.0",
                   log.callback());
    ASSERT_TRUE(log.waitFinal());
    deal->StopWorker();
    ASSERT_EQ(log.reports().back(), Report(true, "完成"));
    EXPECT_EQ(factory::VerifyAddress(Login("10.0.9.9")).text, "verified");
    const factory::Verification gone = factory::VerifyAddress(Login(CameraIp(0)));
    EXPECT_FALSE(gone.verified);
    EXPECT_EQ(gone.text, "not verified: no camera answers at " + CameraIp(0) + " after 80 attempts");
}
