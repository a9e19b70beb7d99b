// The uninstall entry in the registry of the test prefix.  HKLM is writable
// under Wine, and Wine creates subkeys even under a handle opened read-only,
// so the fallback is tested with a volatile key as first root: a lasting
// (non-volatile) key cannot be created below it (ERROR_CHILD_MUST_BE_VOLATILE).
#include <windows.h>

#include <gtest/gtest.h>

#include "base/process_state.h"
#include "system/handles_win32.h"
#include "system/uninstall_win32.h"

namespace {

bool keyExists(HKEY root, const std::string& path) {
  UniqueRegKey key;
  return RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

std::string readString(HKEY root, const std::string& path, const char* value) {
  UniqueRegKey key;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return "<no key>";
  char buffer[512] = {};
  DWORD size = sizeof buffer - 1, type = 0;
  if (RegQueryValueExA(key.get(), value, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
      ERROR_SUCCESS)
    return "<no value>";
  return type == REG_SZ ? std::string(buffer) : "<not REG_SZ>";
}

class Uninstall : public ::testing::Test {
protected:
  void SetUp() override {
    savedSystem_ = processState().folders.systemFolder;
    processState().folders.systemFolder = "C:\\windows\\system32\\";
    name_ = "WinTest Aquarium " + std::to_string(GetCurrentProcessId());
    path_ = uninstallKeyPath(name_);
    volatilePath_ = "Software\\WinTestVolatile" + std::to_string(GetCurrentProcessId());
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, volatilePath_.c_str(), 0, nullptr,
                              REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, refusing_.put(), nullptr),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    refusing_.reset();
    RegDeleteKeyA(HKEY_CURRENT_USER, volatilePath_.c_str());
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, path_.c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, path_.c_str());
    processState().folders.systemFolder = savedSystem_;
  }
  std::string name_, path_, savedSystem_, volatilePath_;
  UniqueRegKey refusing_;  // creating the entry under it fails
};

}  // namespace

TEST_F(Uninstall, WrittenAndRemovedUnderTheMachine) {
  ASSERT_EQ(registerUninstall(name_), errOk);
  EXPECT_EQ(readString(HKEY_LOCAL_MACHINE, path_, "DisplayName"), name_ + " Screen Saver");
  EXPECT_EQ(readString(HKEY_LOCAL_MACHINE, path_, "UninstallString"),
            "C:\\windows\\system32\\" + name_ + ".scr /u");
  EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, path_));
  EXPECT_EQ(unregisterUninstall(name_), errOk);
  EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, path_));
}

TEST_F(Uninstall, FallsBackToTheUserWhenTheMachineRefuses) {
  ASSERT_EQ(writeUninstallEntry(name_, refusing_.get()), errUninstallRegisterFailed);
  ASSERT_EQ(registerUninstall(name_, refusing_.get(), HKEY_CURRENT_USER), errOk);
  EXPECT_EQ(readString(HKEY_CURRENT_USER, path_, "DisplayName"), name_ + " Screen Saver");
  EXPECT_EQ(registerUninstall(name_, refusing_.get(), refusing_.get()), errUninstallRegisterFailed);

  // No key under the machine: success, and the user's key is not looked at.
  EXPECT_EQ(unregisterUninstall(name_), errOk);
  EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, path_));
  EXPECT_EQ(deleteUninstallEntry(name_, HKEY_CURRENT_USER), errOk);
  EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, path_));
}

TEST_F(Uninstall, NamesThatAreNoSingleKeyAreRefused) {
  const std::string list = uninstallKeyPath("");
  for (const char* bad : {"", "a\\b", ".."}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(writeUninstallEntry(bad, HKEY_CURRENT_USER), errUninstallRegisterFailed);
    EXPECT_EQ(deleteUninstallEntry(bad, HKEY_CURRENT_USER), errUninstallRemoveFailed);
  }
  std::string listValue = readString(HKEY_CURRENT_USER, list, "DisplayName");
  EXPECT_TRUE(listValue == "<no key>" || listValue == "<no value>") << listValue;
}
