// The saver's folder: the overwrite question, replacing an earlier
// installation, creating the folders and copying the documents.
#include <windows.h>

#include <gtest/gtest.h>

#include <cctype>

#include "base/install_ui.h"
#include "base/process_state.h"
#include "system/access_win32.h"
#include "system/handles_win32.h"
#include "system/install_journal_win32.h"
#include "system/saver_folder_win32.h"
#include "system/win_text_win32.h"
#include "tests/win/support/folder_fixture.h"
#include "tests/win/support/unix_link.h"

namespace {

// Answers every question with a fixed button and remembers what was asked.
class AnsweringUi : public InstallUi {
public:
  explicit AnsweringUi(int answer) : answer_(answer) {}
  void showStatus(const std::string&) override {}
  void stepProgress() override {}
  bool cancelRequested() override { return false; }
  void reportInstallError(ErrorCode, const std::string&) override {}
  int showMessage(const MessageSpec& message) override {
    asked.push_back(message);
    return answer_;
  }
  std::vector<MessageSpec> asked;

private:
  int answer_;
};

// An install that succeeds right after its folder was prepared: the
// earlier copies it set aside go for good.
ErrorCode prepareAndCommit(const std::string& folder, const std::string& name, bool ask, const std::string& question,
                           InstallUi& ui) {
  ErrorCode result = prepareSaverFolder(folder, name, ask, question, ui);
  installJournal().commit();
  releaseCommonFolder();  // as the end of the installer's process does
  return result;
}

const std::string kQuestion = " screen saver already exists. Overwrite?";

class SaverFolder : public FolderFixture {
protected:
  void SetUp() override {
    FolderFixture::SetUp();
    saved_ = processState().folders.windowsFolder;
    windows_ = rootDir() + "windows\\";
    ASSERT_TRUE(winfs::makeFolders(windows_));
    processState().folders.windowsFolder = windows_;
  }
  void TearDown() override {
    processState().folders.windowsFolder = saved_;
    FolderFixture::TearDown();
  }
  // An earlier installation in the common folder: program and data folder.
  void plantInCommon() {
    ASSERT_TRUE(winfs::writeFile(commonDir() + "Aquarium.scr", "old program"));
    ASSERT_TRUE(winfs::writeFile(commonDir() + "Aquarium\\old.dat", "old data"));
    winfs::setReadOnly(commonDir() + "Aquarium\\old.dat", true);
  }
  std::string windows_;

private:
  std::string saved_;
};

}  // namespace

TEST_F(SaverFolder, TheQuestionDecidesWhetherAnEarlierCopyIsReplaced) {
  struct Case {
    bool earlier, ask;
    int answer;  // 0: the box was closed
    ErrorCode expected;
    bool asked;
  } cases[] = {
      {false, true, kButtonCancel, errOk, false},
      {true, true, kButtonCancel, errUserAbort, true},
      {true, true, 0, errUserAbort, true},
      {true, true, kButtonOk, errOk, true},
      {true, false, kButtonCancel, errOk, false},  // quiet: replaced without asking
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.earlier << c.ask << c.answer);
    winfs::removeTree(commonDir());
    if (c.earlier) plantInCommon();
    AnsweringUi ui(c.answer);
    EXPECT_EQ(prepareAndCommit(commonDir(), "Aquarium", c.ask, kQuestion, ui), c.expected);
    ASSERT_EQ(ui.asked.size(), c.asked ? 1u : 0u);
    if (c.asked) {
      EXPECT_EQ(ui.asked[0].text, "Aquarium screen saver already exists. Overwrite?");
      EXPECT_EQ(ui.asked[0].kind, DialogKind::Confirm);
      EXPECT_EQ(ui.asked[0].buttons, DialogButtons::OkCancel);
    }
    bool kept = c.expected == errUserAbort;  // nothing touched, or all replaced
    EXPECT_EQ(winfs::exists(commonDir() + "Aquarium.scr"), kept);
    EXPECT_EQ(winfs::exists(commonDir() + "Aquarium\\old.dat"), kept);
    EXPECT_TRUE(winfs::isFolder(commonDir() + "Aquarium"));
  }
}

TEST_F(SaverFolder, ACopyInTheWindowsFolderAloneAsks) {
  for (const char* planted : {"Aquarium.scr", "Aquarium\\saver.dat"}) {
    SCOPED_TRACE(planted);
    ASSERT_TRUE(winfs::writeFile(windows_ + planted, "old"));
    AnsweringUi cancel(kButtonCancel);
    EXPECT_EQ(prepareAndCommit(commonDir(), "Aquarium", true, kQuestion, cancel), errUserAbort);
    EXPECT_TRUE(winfs::exists(windows_ + planted));
    AnsweringUi ok(kButtonOk);
    EXPECT_EQ(prepareAndCommit(commonDir(), "Aquarium", true, kQuestion, ok), errOk);
    EXPECT_EQ(ok.asked.size(), 1u);
    EXPECT_TRUE(winfs::listFolder(windows_).empty());
  }
}

// A saver named like one of the system's folders ("Fonts", "Temp"...): that
// folder is neither asked about nor touched, quiet or not; only a program
// of that name goes.
TEST_F(SaverFolder, TheSystemsOwnFolderOfThatNameIsNeverTouched) {
  for (bool ask : {true, false}) {
    SCOPED_TRACE(ask ? "interactive" : "quiet");
    winfs::removeTree(windows_);
    ASSERT_TRUE(winfs::writeFile(windows_ + "Fonts\\arial.ttf", "font"));
    ASSERT_TRUE(winfs::writeFile(windows_ + "Fonts\\deeper\\saver.dat", "not ours: one level down"));
    winfs::setReadOnly(windows_ + "Fonts\\arial.ttf", true);
    AnsweringUi ui(kButtonOk);
    EXPECT_EQ(prepareAndCommit(commonDir(), "Fonts", ask, kQuestion, ui), errOk);
    EXPECT_TRUE(ui.asked.empty());
    EXPECT_EQ(winfs::readText(windows_ + "Fonts\\arial.ttf"), "font");
    EXPECT_EQ(winfs::readText(windows_ + "Fonts\\deeper\\saver.dat"), "not ours: one level down");

    ASSERT_TRUE(winfs::writeFile(windows_ + "Fonts.scr", "old program"));
    AnsweringUi again(kButtonOk);
    EXPECT_EQ(prepareAndCommit(commonDir(), "Fonts", ask, kQuestion, again), errOk);
    EXPECT_EQ(again.asked.size(), ask ? 1u : 0u);
    EXPECT_FALSE(winfs::exists(windows_ + "Fonts.scr"));
    EXPECT_EQ(winfs::readText(windows_ + "Fonts\\arial.ttf"), "font");
    winfs::setReadOnly(windows_ + "Fonts\\arial.ttf", false);
  }
}

namespace {

// Answers for the system (Wine keeps no owners or lists): whatever lies in
// one of these folders was made by an ordinary user, and users may change
// it, until it is given the shared list.
std::vector<std::string> userFolders;
std::vector<std::string> madeSafe;

bool startsWithNoCase(const std::string& path, const std::string& prefix) {
  if (path.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(path[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
      return false;
  return true;
}

SecurityVerdict asWindowsWouldAnswer(HANDLE object) {
  std::string path = winFinalPath(object);
  for (const std::string& safe : madeSafe)
    if (startsWithNoCase(path, safe) && path.size() == safe.size()) return {};
  for (const std::string& folder : userFolders)
    if (startsWithNoCase(path, folder)) return SecurityVerdict{false, true};
  return {};
}

bool recordMadeSafe(HANDLE object) {
  madeSafe.push_back(winFinalPath(object));
  return true;
}

std::string finalPathOf(const std::string& path) {
  UniqueFile h(winOpenNoFollow(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE));
  return winFinalPath(h.get());
}

class SecurityAnswers {
public:
  SecurityAnswers() : previous_(setSecurityFunctions({asWindowsWouldAnswer, recordMadeSafe})) {
    userFolders.clear();
    madeSafe.clear();
  }
  ~SecurityAnswers() { setSecurityFunctions(previous_); }

private:
  SecurityFunctions previous_;
};

std::vector<std::string> createdWith;
void recordCreated(const std::string& path, PSECURITY_DESCRIPTOR descriptor) {
  createdWith.push_back(path + " " + descriptorAccessList(descriptor));
}

}  // namespace

// Users may create files in some of the system's folders ("Temp", "Tasks"):
// a "saver.dat" one of them planted in a folder of the saver's name does
// not make that folder an earlier installation.
TEST_F(SaverFolder, AMarkerAUserPlantedInTheWindowsFolderIsNotBelieved) {
  SecurityAnswers windows;
  ASSERT_TRUE(winfs::writeFile(windows_ + "Tasks\\saver.dat", "planted"));
  ASSERT_TRUE(winfs::writeFile(windows_ + "Tasks\\job.xml", "the system's"));
  userFolders.push_back(finalPathOf(windows_ + "Tasks"));
  for (bool ask : {true, false}) {
    AnsweringUi ui(kButtonOk);
    EXPECT_EQ(prepareAndCommit(commonDir(), "Tasks", ask, kQuestion, ui), errOk);
    EXPECT_TRUE(ui.asked.empty());
    EXPECT_EQ(winfs::readText(windows_ + "Tasks\\job.xml"), "the system's");
  }
  // Made by an administrator: an earlier installation after all.
  userFolders.clear();
  AnsweringUi ui(kButtonOk);
  EXPECT_EQ(prepareAndCommit(commonDir(), "Tasks", true, kQuestion, ui), errOk);
  EXPECT_EQ(ui.asked.size(), 1u);
  EXPECT_FALSE(winfs::exists(windows_ + "Tasks"));
}

// The common folder and a saver folder that users could change (made by an
// earlier installer under the inherited list, or by a user) are given the
// administrators' list and owner before anything in them is relied on; the
// folders the install makes get it from the start.
TEST_F(SaverFolder, FoldersUsersCouldChangeAreMadeSafeAndNewOnesAreBornSafe) {
  SecurityAnswers windows;
  plantInCommon();
  userFolders.push_back(finalPathOf(commonDir()));
  createdWith.clear();
  FolderCreatedObserver previous = setFolderCreatedObserver(recordCreated);
  AnsweringUi ui(kButtonOk);
  EXPECT_EQ(prepareAndCommit(commonDir(), "Aquarium", false, kQuestion, ui), errOk);
  setFolderCreatedObserver(previous);
  std::vector<std::string> expected = {finalPathOf(commonDir()), finalPathOf(commonDir() + "Aquarium")};
  // The old saver folder was made safe before it was set aside (it is gone
  // now), the common folder stays safe.
  ASSERT_EQ(madeSafe.size(), 2u);
  EXPECT_EQ(madeSafe[0], expected[0]);
  EXPECT_EQ(createdWith, std::vector<std::string>{commonDir() + "Aquarium " + kSharedFolderSddl});
}

// A junction (here a Unix link, as Wine shows one) in place of the common
// folder or the saver's folder is refused before anything changes, and
// nothing is written where it points.
TEST_F(SaverFolder, ALinkedCommonOrSaverFolderIsRefused) {
  const std::string elsewhere = rootDir() + "elsewhere\\";
  ASSERT_TRUE(winfs::writeFile(elsewhere + "Aquarium\\document.txt", "precious"));
  const std::string untouched = winfs::fingerprint(elsewhere);
  {
    winfs::UnixLink common(rootDir() + "linked common", elsewhere);
    ASSERT_TRUE(common.made());
    AnsweringUi ui(kButtonOk);
    EXPECT_EQ(prepareAndCommit(rootDir() + "linked common\\", "Aquarium", false, kQuestion, ui),
              errLinkedSaverFolder);
  }
  {
    winfs::UnixLink saver(commonDir() + "Aquarium", elsewhere + "Aquarium");
    ASSERT_TRUE(saver.made());
    AnsweringUi ui(kButtonOk);
    EXPECT_EQ(prepareAndCommit(commonDir(), "Aquarium", false, kQuestion, ui), errLinkedSaverFolder);
    EXPECT_FALSE(winfs::exists(InstallJournal::pathFor(commonDir(), "Aquarium")));
  }
  EXPECT_EQ(winfs::fingerprint(elsewhere), untouched);
}

TEST_F(SaverFolder, AnEmptyNameNeverNamesTheFolderItself) {
  ASSERT_TRUE(winfs::writeFile(windows_ + "system.ini", "precious"));
  EXPECT_FALSE(saverExistsIn(windows_, ""));
  EXPECT_EQ(removeSaverFrom(windows_, ""), errOk);
  EXPECT_TRUE(winfs::exists(windows_ + "system.ini"));
}

TEST_F(SaverFolder, CreateSaverFolders) {
  EXPECT_EQ(createSaverFolders(rootDir() + "new\\", "B"), errOk);
  EXPECT_EQ(createSaverFolders(rootDir() + "new\\", "B"), errOk);  // both exist already
  EXPECT_TRUE(winfs::isFolder(rootDir() + "new\\B"));
  // One level each: a missing parent is the system's path-not-found.
  EXPECT_EQ(createSaverFolders(rootDir() + "x\\y\\", "C"), ERROR_PATH_NOT_FOUND);
}

TEST_F(SaverFolder, CopyLicenseAndReadMe) {
  const std::string saver = commonDir() + "Aquarium\\";
  struct Case {
    const char* label;
    bool license, licenseLocked, readMe;
    ErrorCode expected;
  } cases[] = {
      {"both copied", true, false, true, errOk},
      {"license missing", false, false, true, errFileMissing},
      {"license copy fails, read-me copied", true, true, true, ERROR_SHARING_VIOLATION},
      {"read-me missing", true, false, false, errFileMissing},
      {"license fails, read-me missing", true, true, false, errFileMissing},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    winfs::removeTree(workDir());
    winfs::removeTree(saver);
    ASSERT_TRUE(!c.license || winfs::writeFile(workDir() + "license.txt", "L"));
    ASSERT_TRUE(!c.readMe || winfs::writeFile(workDir() + "readme.rtf", "R"));
    UniqueFile lock;
    if (c.licenseLocked) {
      ASSERT_TRUE(winfs::writeFile(saver + "license.txt", "held"));
      lock = UniqueFile(CreateFileA((saver + "license.txt").c_str(), GENERIC_READ, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    }
    EXPECT_EQ(copyLicenseAndReadMe(workDir(), saver, "license.txt", "readme.rtf"), c.expected);
    if (c.readMe) {
      EXPECT_EQ(winfs::readText(saver + "readme.rtf"), "R");
    }
    if (c.license && !c.licenseLocked) {
      EXPECT_EQ(winfs::readText(saver + "license.txt"), "L");
    }
  }
  EXPECT_EQ(copyLicenseAndReadMe(workDir(), saver, "", ""), errOk);
}
