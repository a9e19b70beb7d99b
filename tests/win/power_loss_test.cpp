// Power failures at every point of a real upgrade, and again at every point
// of the recovery that follows one.
//
// The installer reports each file operation to the test (create, write with
// its bytes, flush, rename, delete, folders, copies).  A model of the disk
// replays them: what a power failure after the k-th operation leaves is the
// folders and names as the first k operations made them (the file system's
// own journal keeps them, in order) and, of each file, only what was flushed
// by then; a file never flushed is taken both as empty and as zeros of its
// size.  That disk is laid out for real, the next run's recovery (the
// installer's own code) runs on it, and what it leaves must be exactly the
// earlier installation or exactly the new one, with no journal and no backup.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <optional>
#include <set>

#include "base/crc32.h"
#include "system/install_journal_win32.h"
#include "system/uninstall_win32.h"
#include "system/win_text_win32.h"
#include "tests/win/support/folder_fixture.h"
#include "tests/win/support/installer_harness.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

constexpr const char* kSaver = "Power Cut Saver";
constexpr const char* kProgram = "Power Cut Saver.scr";
constexpr const char* kShared = "Power Cut Saver shared.dll";  // a library in the common folder

std::string lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return s;
}

struct Operation {
  std::string kind, path, other;
  std::uint64_t offset = 0;
  std::string data;
};

Operation operationOf(const e2e::TraceEvent& e) {
  return {e.field(0), e.field(1), e.field(2), std::stoull(e.field(3)), e.field(4)};
}

Operation operationOf(const FileOperation& op) {
  static const char* const kinds[] = {"create", "write", "flush", "rename", "delete", "mkdir", "rmdir", "copy",
                                      "attributes"};
  return {kinds[static_cast<int>(op.kind)], op.path, op.other, op.offset,
          std::string(static_cast<const char*>(op.data), op.data ? op.size : 0)};
}

// What a power failure leaves of a file.
enum class Unflushed { Empty, Zeros };

class Disk {
public:
  struct File {
    std::string spelled;  // the path as written
    std::string written;  // what the program wrote
    std::string flushed;  // what had reached the disk at the last flush
    bool everFlushed = false;
  };

  // The saver's own places on the real disk, as they are now (all on it).
  static Disk read(const std::vector<std::string>& roots) {
    Disk d;
    for (const std::string& root : roots) d.readTree(root);
    return d;
  }

  void apply(const Operation& op) {
    const std::string key = lower(op.path);
    if (op.kind == "create") {
      files_[key] = File{op.path, "", "", false};
    } else if (op.kind == "write") {
      File& f = files_[key];
      if (f.spelled.empty()) f.spelled = op.path;
      if (f.written.size() < op.offset + op.data.size()) f.written.resize(op.offset + op.data.size(), '\0');
      std::copy(op.data.begin(), op.data.end(), f.written.begin() + static_cast<std::ptrdiff_t>(op.offset));
    } else if (op.kind == "flush") {
      auto it = files_.find(key);
      if (it == files_.end()) return;
      it->second.flushed = it->second.written;
      it->second.everFlushed = true;
    } else if (op.kind == "rename") {
      move(key, op.other);
    } else if (op.kind == "delete" || op.kind == "rmdir") {
      erase(key);
    } else if (op.kind == "mkdir") {
      folders_[key] = op.path;
    } else if (op.kind == "copy") {
      auto from = files_.find(key);
      File copy{op.other, from == files_.end() ? std::string() : from->second.written, "", false};
      if (from == files_.end()) copy.written = copiedFallback(op.other);
      files_[lower(op.other)] = copy;
    }
  }

  // Whether a power failure now could find a file of `roots` never flushed.
  bool hasUnflushed(const std::vector<std::string>& roots) const {
    for (const auto& [key, f] : files_)
      if (!f.everFlushed && inRoots(key, roots)) return true;
    return false;
  }

  // Lays out on the real disk what a power failure now leaves of roots.
  void layOut(const std::vector<std::string>& roots, Unflushed unflushed) const {
    for (const std::string& root : roots) clearReal(root);
    for (const auto& [key, spelled] : folders_)
      if (inRoots(key, roots)) winfs::makeFolders(spelled);
    for (const auto& [key, f] : files_) {
      if (!inRoots(key, roots)) continue;
      std::string content = f.everFlushed ? f.flushed
                            : unflushed == Unflushed::Empty ? std::string()
                                                            : std::string(f.written.size(), '\0');
      winfs::writeFile(f.spelled, content);
    }
  }

  // What a power failure now leaves of one file ("" when none).
  std::string durable(const std::string& path) const {
    auto it = files_.find(lower(path));
    return it == files_.end() || !it->second.everFlushed ? std::string() : it->second.flushed;
  }

  // Names and contents under roots, as one text.
  std::string fingerprint(const std::vector<std::string>& roots) const {
    std::string out;
    for (const auto& [key, spelled] : folders_)
      if (inRoots(key, roots)) out += key + "/\n";
    for (const auto& [key, f] : files_)
      if (inRoots(key, roots)) {
        std::uint32_t crc = 0;
        crc32OfString(f.everFlushed ? f.flushed : f.written, crc);
        out += key + " " + std::to_string(f.written.size()) + " " + std::to_string(crc) + "\n";
      }
    return out;
  }

  // A copy whose source the model never saw written: its content as the
  // finished install has it.
  std::function<std::string(const std::string&)> copiedFallback = [](const std::string&) { return std::string(); };

private:
  // A root is a folder (ends with '\') or a name prefix in a folder.
  static bool inRoots(const std::string& key, const std::vector<std::string>& roots) {
    for (const std::string& root : roots)
      if (key.rfind(lower(root), 0) == 0) return true;
    return false;
  }

  void readTree(const std::string& root) {
    std::size_t cut = root.find_last_of('\\');
    std::string folder = root.substr(0, cut + 1), prefix = root.substr(cut + 1);
    for (const std::string& name : winfs::listFolder(folder)) {
      if (lower(name).rfind(lower(prefix), 0) != 0) continue;
      readEntry(folder + name);
    }
  }
  void readEntry(const std::string& path) {
    if (winfs::isFolder(path)) {
      folders_[lower(path)] = path;
      for (const std::string& name : winfs::listFolder(path + "\\")) readEntry(path + "\\" + name);
      return;
    }
    std::string content = winfs::readText(path);
    files_[lower(path)] = File{path, content, content, true};
  }
  static void clearReal(const std::string& root) {
    std::size_t cut = root.find_last_of('\\');
    std::string folder = root.substr(0, cut + 1), prefix = root.substr(cut + 1);
    for (const std::string& name : winfs::listFolder(folder))
      if (lower(name).rfind(lower(prefix), 0) == 0) winfs::removeTree(folder + name);
  }
  void move(const std::string& fromKey, const std::string& to) {
    const std::string toKey = lower(to);
    std::map<std::string, File> files;
    for (auto& [key, f] : files_) {
      if (key == fromKey || key.rfind(fromKey + "\\", 0) == 0) {
        File moved = f;
        moved.spelled = to + f.spelled.substr(fromKey.size());
        files[toKey + key.substr(fromKey.size())] = moved;
      } else {
        files[key] = f;
      }
    }
    files_ = std::move(files);
    std::map<std::string, std::string> folders;
    for (auto& [key, spelled] : folders_) {
      if (key == fromKey || key.rfind(fromKey + "\\", 0) == 0)
        folders[toKey + key.substr(fromKey.size())] = to + spelled.substr(fromKey.size());
      else
        folders[key] = spelled;
    }
    folders_ = std::move(folders);
  }
  void erase(const std::string& key) {
    for (auto it = files_.begin(); it != files_.end();)
      it = (it->first == key || it->first.rfind(key + "\\", 0) == 0) ? files_.erase(it) : std::next(it);
    for (auto it = folders_.begin(); it != folders_.end();)
      it = (it->first == key || it->first.rfind(key + "\\", 0) == 0) ? folders_.erase(it) : std::next(it);
  }

  std::map<std::string, File> files_;
  std::map<std::string, std::string> folders_;  // key -> spelled
};

// The recovery's own operations, recorded while they are made.
std::vector<Operation>* recording = nullptr;
DWORD recordOperation(const FileOperation& op) {
  if (recording) recording->push_back(operationOf(op));
  return 0;
}

class PowerLoss : public e2e::SaverTest {
protected:
  PowerLoss() : SaverTest(kSaver, kProgram) {}
  void removeEverything() override {
    SaverTest::removeEverything();
    DeleteFileA((e2e::commonFolder() + kShared).c_str());
  }

  std::string installer(int v) {
    std::string tag = std::string("v").append(std::to_string(v));
    DataFileBuilder data;
    data.add("picture.bmp", bytesOf("BM " + tag + std::string(300, 'p')))
        .add("sub\\nested.txt", bytesOf(tag + " nested"))
        .addImploded("sub\\deeper\\big.txt", bytesOf(std::string(3000, 'b') + tag), e2e::implode);
    PackageBuilder b;
    b.mode(2).saverName(kSaver).readMe("readme.txt", bytesOf("read me " + tag))
        .item(6, kProgram, 2, bytesOf("MZ program " + tag))
        .item(10, "Power Cut Saver shared", 3, bytesOf("MZ library " + tag))
        .dataFile(data);
    std::string path = rootDir() + "Setup " + tag + ".exe";
    EXPECT_TRUE(winfs::writeFile(path, e2e::buildInstaller(b)));
    return path;
  }

  std::string entry() const {
    return e2e::uninstallEntryExists(kSaver)
               ? e2e::uninstallValue(kSaver, "DisplayName") + "|" + e2e::uninstallValue(kSaver, "UninstallString")
               : "none";
  }

  // The next run's recovery, recording what it does.
  std::vector<Operation> recover() {
    std::vector<Operation> ops;
    recording = &ops;
    FileOperationObserver previous = setFileOperationObserver(recordOperation);
    JournalScope scope = saverJournalScope(kSaver, e2e::commonFolder(), std::string(),
                                           {e2e::systemFolder(), e2e::commonFolder()});
    scope.files.push_back(e2e::commonFolder() + kShared);
    recoverInterruptedInstall(InstallJournal::pathFor(e2e::commonFolder(), kSaver), scope, nullptr);
    setFileOperationObserver(previous);
    recording = nullptr;
    return ops;
  }
};

TEST_F(PowerLoss, AnUpgradeCutOffAnywhereEndsAsTheOldOrTheNewInstallation) {
  e2e::FlashStandIn flash;
  e2e::RunOptions quiet;
  quiet.args = {"/q"};
  ASSERT_EQ(e2e::runInstaller(installer(1), quiet).exitCode, 0);
  // An entry the upgrade's own would not restore by chance.
  ASSERT_EQ(restoreUninstallEntry(kSaver, HKEY_LOCAL_MACHINE, {true, "Earlier Saver", "earlier /u"}), errOk);
  // The model's roots: the saver's entries in the common folder (its folder,
  // journal and backups, its library) and its program with its backups.
  const std::vector<std::string> modelRoots = {e2e::commonFolder() + kSaver, e2e::systemFolder() + kProgram};
  const Disk before = Disk::read(modelRoots);
  const std::string oldState = before.fingerprint(modelRoots), oldEntry = entry();

  // The upgrade, every file operation recorded.
  std::vector<Operation> ops;
  quiet.traceFiles = true;
  quiet.onEvent = [&ops](const e2e::TraceEvent& e) {
    if (e.kind == "file") ops.push_back(operationOf(e));
  };
  e2e::RunResult upgrade = e2e::runInstaller(installer(2), quiet);
  ASSERT_EQ(upgrade.exitCode, 0);
  const Disk after = Disk::read(modelRoots);
  const std::string newState = after.fingerprint(modelRoots), newEntry = entry();
  ASSERT_NE(oldState, newState);
  ASSERT_NE(oldEntry, "none");
  auto copiedContent = [](const std::string& path) { return winfs::readText(path); };
  const std::string journal = lower(InstallJournal::pathFor(e2e::commonFolder(), kSaver));
  const UninstallValues oldValues{true, "Earlier Saver", "earlier /u"};
  const UninstallValues newValues = readUninstallEntry(kSaver, HKEY_LOCAL_MACHINE);

  // The registry as a cut leaves it, or worse: the new entry from the moment
  // the journal holds the earlier one (the install writes it later, before
  // "committed") until the journal records that entry as undone (an undo
  // restores it before it records so).
  // Without a journal it is what it was before the journal (or what the run
  // that deleted the journal left).
  auto registryAt = [&](const Disk& disk, const UninstallValues& withoutJournal) -> UninstallValues {
    std::optional<ParsedJournal> parsed = parseJournal(disk.durable(journal));
    if (!parsed || parsed->records.size() < 2) return withoutJournal;
    JournalProgress progress = journalProgress(parsed->records);
    return progress.undone[0] ? oldValues : newValues;
  };
  auto deletes = [&journal](const std::vector<Operation>& list, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
      if (list[i].kind == "delete" && lower(list[i].path) == journal) return true;
    return false;
  };

  auto check = [&](const std::string& where) {
    std::string state = Disk::read(modelRoots).fingerprint(modelRoots);
    bool isOld = state == oldState, isNew = state == newState;
    EXPECT_TRUE(isOld || isNew) << where << "\n" << state;
    EXPECT_EQ(entry(), isNew ? newEntry : oldEntry) << where;
  };

  const auto start = std::chrono::steady_clock::now();
  int cuts = 0, secondCuts = 0;
  auto touchesModel = [&modelRoots](const Operation& op) {
    for (const std::string& root : modelRoots)
      if (lower(op.path).rfind(lower(root), 0) == 0 || lower(op.other).rfind(lower(root), 0) == 0) return true;
    return false;
  };
  for (std::size_t k = 0; k <= ops.size(); ++k) {
    // A cut after an operation elsewhere (the work folder) leaves what the
    // cut before it left.
    if (k > 0 && !touchesModel(ops[k - 1])) continue;
    Disk cut = before;
    cut.copiedFallback = copiedContent;
    for (std::size_t i = 0; i < k; ++i) cut.apply(ops[i]);
    const UninstallValues cutEntry = registryAt(cut, deletes(ops, k) ? newValues : oldValues);
    for (Unflushed unflushed : {Unflushed::Empty, Unflushed::Zeros}) {
      if (unflushed == Unflushed::Zeros && !cut.hasUnflushed(modelRoots)) break;
      const std::string where = "power cut after operation " + std::to_string(k) + " of " +
                                std::to_string(ops.size()) + (unflushed == Unflushed::Zeros ? " (zeros)" : "");
      SCOPED_TRACE(where);
      cut.layOut(modelRoots, unflushed);
      restoreUninstallEntry(kSaver, HKEY_LOCAL_MACHINE, cutEntry);
      const Disk laidOut = Disk::read(modelRoots);
      std::vector<Operation> recovery = recover();
      ++cuts;
      check(where);
      if (HasFailure()) return;
      const UninstallValues recovered = readUninstallEntry(kSaver, HKEY_LOCAL_MACHINE);
      // A second failure at each point of that recovery (every seventh
      // first cut: the count grows with the square otherwise).
      if (k % 7 != 3 || unflushed != Unflushed::Empty) continue;
      for (std::size_t j = 0; j < recovery.size(); ++j) {
        Disk second = laidOut;
        for (std::size_t i = 0; i < j; ++i) second.apply(recovery[i]);
        second.layOut(modelRoots, Unflushed::Empty);
        restoreUninstallEntry(kSaver, HKEY_LOCAL_MACHINE,
                              registryAt(second, deletes(recovery, j) ? recovered : cutEntry));
        recover();
        ++secondCuts;
        check(where + ", then after operation " + std::to_string(j) + " of its recovery");
        if (HasFailure()) return;
      }
    }
  }
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  std::printf("[ power ] %zu operations; %d cut points recovered, %d second cuts, %lld ms\n", ops.size(), cuts,
              secondCuts, static_cast<long long>(ms.count()));
  EXPECT_GT(cuts, 20);
  EXPECT_GT(secondCuts, 0);
}

}  // namespace
