// The words for the library's statuses, as the program and the console front
// end print them.
#include <gtest/gtest.h>

#include <string>

#include "library/KV-xR_update.h"
#include "library/status_text.h"

namespace qs::kvxr {
namespace {

const Call kCalls[] = {Call::DiscoverDevices,  Call::EnumDevices,        Call::SetDiscoveryMode,  Call::SetNetworkCfg,
                       Call::RebootDevice,     Call::SetFirmwareFile,    Call::UpdateFirmware,    Call::AbortUpdate,
                       Call::SetRecoveryMode,  Call::ResumeRecovery,     Call::WriteOperationMode, Call::ReadOperationMode,
                       Call::GetSerial,        Call::GetHardwareID,      Call::DbgReadProductData, Call::DbgEraseProductData,
                       Call::UpdateResult};

TEST(StatusText, MessagesNameTheNumberAndItsMeaning) {
  EXPECT_EQ(StatusText(Call::SetNetworkCfg, KVXR_SETCFG_NO_ACK), "-402: no acknowledgement from the device in time");
  EXPECT_EQ(StatusText(Call::SetNetworkCfg, KVXR_SETCFG_REFUSED).rfind("-401: the device refused the settings", 0), 0u);
  EXPECT_EQ(StatusMeaning(Call::SetFirmwareFile, KVXR_WRONG_FAMILY), "\"model\" is not \"KV-xR\"");
  EXPECT_EQ(StatusName(Call::UpdateResult, KVXR_UPDATE_NO_BOOT_LOADER), "KVXR_UPDATE_NO_BOOT_LOADER");
  // -101 means one thing to one function and another to the next.
  EXPECT_EQ(StatusName(Call::GetSerial, -101), "KVXR_NO_ROOM");
  EXPECT_EQ(StatusName(Call::UpdateFirmware, -101), "KVXR_NO_FIRMWARE");
  EXPECT_EQ(StatusName(Call::WriteOperationMode, -101), "KVXR_SETCFG_NOT_STARTED");
}

TEST(StatusText, AStatusTheFunctionDoesNotReturnIsUnexpected) {
  EXPECT_EQ(StatusMeaning(Call::GetSerial, KVXR_SETCFG_NO_ACK), "unexpected status");
  EXPECT_EQ(StatusName(Call::GetSerial, KVXR_SETCFG_NO_ACK), "");
  EXPECT_EQ(StatusText(Call::RebootDevice, 12345), "12345: unexpected status");
  EXPECT_EQ(StatusMeaning(Call::SetDiscoveryMode, KVXR_BAD_ADDRESS), "unexpected status");
}

// Within one function a number has one meaning, except the two numbers the
// header lists with "or": both meanings are then given.
TEST(StatusText, OneMeaningPerNumberWithinAFunction) {
  for (Call c : kCalls) {
    for (int32_t st = -700; st <= 2; ++st) {
      std::string name = StatusName(c, st);
      if (name.find('/') == std::string::npos) continue;
      bool documented = (c == Call::SetNetworkCfg && name == "KVXR_BAD_KEYWORD/KVXR_SETCFG_NOT_STARTED") ||
                        (c == Call::RebootDevice && name == "KVXR_UNKNOWN_DEVICE/KVXR_REBOOT_NOT_STARTED");
      EXPECT_TRUE(documented) << static_cast<int>(c) << " " << st << " " << name;
    }
  }
  EXPECT_EQ(StatusMeaning(Call::RebootDevice, -100),
            "unknown device (not in the last scan), or the reboot could not be started");
}

TEST(StatusText, EveryFunctionCanSucceed) {
  for (Call c : kCalls) {
    if (c == Call::UpdateResult) continue;
    EXPECT_EQ(StatusName(c, KVXR_OK), "KVXR_OK") << static_cast<int>(c);
  }
  EXPECT_EQ(StatusName(Call::UpdateResult, 0), "KVXR_UPDATE_UP_TO_DATE");
  EXPECT_EQ(StatusName(Call::UpdateResult, 1), "KVXR_UPDATE_WRITTEN");
}

// The program's and the console front end's messages: every status a call
// returns has words, and a status of another call has none.
TEST(StatusText, EveryStatusOfACallHasAMeaning) {
  const int32_t reboot[] = {KVXR_REBOOT_NOT_STARTED, KVXR_REBOOT_NO_SOCKET,  KVXR_REBOOT_NO_BROADCAST,
                            KVXR_REBOOT_NOT_SENT,    KVXR_RESPONSE_NOT_SENT, KVXR_NO_CHALLENGE,
                            KVXR_CHALLENGE_RECEIVE_ERROR};
  for (int32_t st : reboot) EXPECT_NE(StatusMeaning(Call::RebootDevice, st), "unexpected status") << st;
  const int32_t setcfg[] = {KVXR_UNKNOWN_DEVICE,      KVXR_SETCFG_NOT_STARTED,        KVXR_NO_SEPARATOR,
                            KVXR_BAD_ADDRESS,         KVXR_REDISCOVERY_TIMEOUT,       KVXR_REDISCOVERY_RECEIVE_ERROR,
                            KVXR_SETCFG_REFUSED,      KVXR_SETCFG_NO_ACK,             KVXR_SETCFG_RECEIVE_ERROR};
  for (int32_t st : setcfg) EXPECT_NE(StatusMeaning(Call::SetNetworkCfg, st), "unexpected status") << st;
  // The operation mode is no text: the text's statuses are not among its own.
  for (int32_t st : setcfg) {
    if (st == KVXR_NO_SEPARATOR || st == KVXR_BAD_ADDRESS) continue;
    EXPECT_NE(StatusMeaning(Call::WriteOperationMode, st), "unexpected status") << st;
  }
  EXPECT_EQ(StatusMeaning(Call::RebootDevice, KVXR_NO_CHALLENGE), "the device sent no valid challenge within 3 s");
  EXPECT_EQ(StatusMeaning(Call::RebootDevice, KVXR_SETCFG_NO_ACK), "unexpected status")
      << "a set-config status is no reboot's";
  EXPECT_EQ(StatusMeaning(Call::SetNetworkCfg, KVXR_NO_CHALLENGE), "unexpected status");
  EXPECT_EQ(StatusMeaning(Call::ReadOperationMode, KVXR_NO_ROOM), "no room for the answer");
  EXPECT_NE(StatusMeaning(Call::DiscoverDevices, KVXR_NO_WINDOW), "unexpected status");
}

// Every status an update can end with has words of its own: the user tells
// them apart by the words alone.
TEST(StatusText, EveryFinalStatusOfAnUpdateHasItsOwnMeaning) {
  const int32_t known[] = {1, 0, -7, -9, -18, -19, -20, -21, -22, -23, -24, -25, -26, -27, -28, -29, -100, -104, -105, -107};
  for (int32_t a : known) {
    EXPECT_NE(StatusMeaning(Call::UpdateResult, a), "unexpected status") << a;
    for (int32_t b : known) {
      if (a != b) {
        EXPECT_NE(StatusMeaning(Call::UpdateResult, a), StatusMeaning(Call::UpdateResult, b)) << a << " " << b;
      }
    }
  }
  EXPECT_EQ(StatusMeaning(Call::UpdateResult, -1), "unexpected status");
  EXPECT_EQ(StatusMeaning(Call::UpdateResult, -106), "unexpected status");
  EXPECT_EQ(StatusMeaning(Call::UpdateResult, 3), "programmed");  // a recovery's count
  for (int32_t st : {-100, -200, -500, -501, -502, -503})
    EXPECT_NE(StatusMeaning(Call::SetFirmwareFile, st), "unexpected status") << st;
  for (int32_t st : {-100, -101, -102, -103}) EXPECT_NE(StatusMeaning(Call::UpdateFirmware, st), "unexpected status") << st;
  EXPECT_EQ(StatusMeaning(Call::UpdateFirmware, -104), "unexpected status");
  for (int32_t st : {-100, -102, -103}) EXPECT_NE(StatusMeaning(Call::DbgReadProductData, st), "unexpected status") << st;
}

}  // namespace
}  // namespace qs::kvxr
