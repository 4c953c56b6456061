#include "platform/settings_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "files.h"
#include "platform/file.h"
#include "platform/file_test_hooks.h"
#ifndef _WIN32
#include "platform/syscall_test_hooks.h"
#endif
#include "scratch_dir.h"

namespace rondel {
namespace platform {
namespace {

using testing::ReadFileBytes;
using testing::ScratchDir;
using testing::WriteFileBytes;

class SettingsFileTest : public ::testing::Test {
 protected:
#ifndef _WIN32
  void TearDown() override { SetWriteBudget(-1); }
#endif

  std::string Read(const char* section, const char* key,
                   const char* fallback = "DEF", size_t size = 256) {
    std::string out(size, 'X');
    size_t length = ReadProfileString(path_.c_str(), section, key, fallback,
                                      &out[0], out.size());
    EXPECT_EQ(out[length], '\0');
    return out.substr(0, length);
  }

  ScratchDir dir_;
  std::string path_ = dir_.File("Korvane.ini");
};

TEST_F(SettingsFileTest, NamesMatchWithoutCaseAndBlanks) {
  WriteFileBytes(path_,
                 "; venue settings\n"
                 "  [ MainServer ]  \n"
                 "  DataBaseServerIp =  10.1.2.3  \n"
                 "username=Operator\n");
  EXPECT_EQ(Read("mainserver", "DATABASESERVERIP"), "10.1.2.3");
  EXPECT_EQ(Read("MAINSERVER", " UserName "), "Operator");
}

TEST_F(SettingsFileTest, FirstSectionAndFirstKeyWin) {
  WriteFileBytes(path_,
                 "[KTV]\n"
                 "DataBaseName=first\n"
                 "DataBaseName=second\n"
                 "[ktv]\n"
                 "DataBaseName=third\n"
                 "Other=only-in-second-section\n");
  EXPECT_EQ(Read("KTV", "DataBaseName"), "first");
  // Only the first matching section is searched.
  EXPECT_EQ(Read("KTV", "Other"), "DEF");
}

TEST_F(SettingsFileTest, MissingFileSectionOrKeyGivesDefault) {
  EXPECT_EQ(Read("MainServer", "UserName", "sa"), "sa");
  WriteFileBytes(path_, "[MainServer]\nUserName=boss\n");
  EXPECT_EQ(Read("KTV", "UserName", "sa"), "sa");
  EXPECT_EQ(Read("MainServer", "PassWord", "secret"), "secret");
  EXPECT_EQ(Read("MainServer", "PassWord", nullptr), "");
}

TEST_F(SettingsFileTest, PresentEmptyValueIsNotTheDefault) {
  WriteFileBytes(path_, "[MainServer]\nPassWord=\n");
  EXPECT_EQ(Read("MainServer", "PassWord", "secret"), "");
}

TEST_F(SettingsFileTest, KeysOutsideTheirSectionAndOddLinesAreIgnored) {
  WriteFileBytes(path_,
                 "Stray=before-any-section\n"
                 "[MainServer]\n"
                 "no equals sign here\n"
                 "# UserName=commented\n"
                 "; UserName=commented\n"
                 "UserName=real\n");
  EXPECT_EQ(Read("MainServer", "Stray"), "DEF");
  EXPECT_EQ(Read("MainServer", "UserName"), "real");
}

TEST_F(SettingsFileTest, EnclosingQuotesAreStrippedOnce) {
  WriteFileBytes(
      path_,
      "[S]\nA=\"quoted value\"\nB='single'\nC=\"unbalanced\nD=\"\"x\"\"\n");
  EXPECT_EQ(Read("S", "A"), "quoted value");
  EXPECT_EQ(Read("S", "B"), "single");
  EXPECT_EQ(Read("S", "C"), "\"unbalanced");
  EXPECT_EQ(Read("S", "D"), "\"x\"");
}

TEST_F(SettingsFileTest, CrlfLinesReadWithoutCarriageReturn) {
  WriteFileBytes(path_, "[MainServer]\r\nUserName=sa2\r\nPassWord=pw\r\n");
  EXPECT_EQ(Read("MainServer", "UserName"), "sa2");
  EXPECT_EQ(Read("MainServer", "PassWord"), "pw");
}

TEST_F(SettingsFileTest, ValueIsCutToBufferLengthMinusOne) {
  WriteFileBytes(path_,
                 "[MainServer]\nDataBaseServerIp=1234567890123456789012345\n");
  char out[20];
  std::memset(out, 'X', sizeof(out));
  size_t length = ReadProfileString(path_.c_str(), "MainServer",
                                    "DataBaseServerIp", "", out, sizeof(out));
  EXPECT_EQ(length, 19u);
  EXPECT_EQ(std::string(out), "1234567890123456789");

  char one[1] = {'X'};
  EXPECT_EQ(ReadProfileString(path_.c_str(), "MainServer", "DataBaseServerIp",
                              "", one, 1),
            0u);
  EXPECT_EQ(one[0], '\0');
  // Defaults are cut the same way.
  EXPECT_EQ(Read("MainServer", "Missing", "abcdef", 4), "abc");
}

TEST_F(SettingsFileTest, HugeLineIsReadWithinTheBuffer) {
  std::string huge(3 << 20, 'v');
  WriteFileBytes(path_,
                 "[MainServer]\nUserName=" + huge + "\nPassWord=after\n");
  std::string user = Read("MainServer", "UserName", "", 255);
  EXPECT_EQ(user, std::string(254, 'v'));
  EXPECT_EQ(Read("MainServer", "PassWord"), "after");
}

#ifndef _WIN32  // the Linux reader's size limit and the Linux writer's bytes;
                // on Windows the system's profile functions read and lay out
                // the file
TEST_F(SettingsFileTest, OversizedFileIsReadInPartAndNeverRewritten) {
  const std::string head = "[MainServer]\nUserName=boss\n";
  const std::string filler = "; " + std::string(5 << 20, 'c') + "\n";
  const std::string before = head + filler + "[KTV]\nDataBaseName=beyond\n";
  WriteFileBytes(path_, before);
  EXPECT_EQ(Read("MainServer", "UserName"), "boss");
  EXPECT_EQ(Read("KTV", "DataBaseName"), "DEF");  // past the part that is read
  EXPECT_FALSE(
      WriteProfileString(path_.c_str(), "MainServer", "UserName", "x").ok());
  EXPECT_EQ(ReadFileBytes(path_), before);
}

// Editors that save UTF-8 often begin the file with a byte-order mark: it
// must not hide the first section, and a writer keeps it.
TEST_F(SettingsFileTest, ByteOrderMarkIsSkippedAndKept) {
  const std::string mark = "\xEF\xBB\xBF";
  WriteFileBytes(path_, mark + "[MainServer]\r\nUserName=boss\r\n");
  EXPECT_EQ(Read("MainServer", "UserName"), "boss");
  ASSERT_TRUE(
      WriteProfileString(path_.c_str(), "MainServer", "PassWord", "pw").ok());
  EXPECT_EQ(ReadFileBytes(path_),
            mark + "[MainServer]\r\nUserName=boss\r\nPassWord=pw\r\n");

  WriteFileBytes(path_, mark);
  ASSERT_TRUE(
      WriteProfileString(path_.c_str(), "VideoServer", "RandPlayType", "7")
          .ok());
  EXPECT_EQ(ReadFileBytes(path_), mark + "[VideoServer]\nRandPlayType=7\n");
}

#endif  // _WIN32

TEST_F(SettingsFileTest, GbkBytesAreKeptAndNotCaseFolded) {
  const std::string value = "\xC4\xCF\xBE\xA9 KTV";  // bytes of a GBK text
  WriteFileBytes(path_, "[KTV]\nDataBaseName=" + value + "\n");
  EXPECT_EQ(Read("KTV", "DataBaseName"), value);
}

TEST_F(SettingsFileTest, IntegersReadLikeTheWindowsReader) {
  WriteFileBytes(path_,
                 "[VideoServer]\n"
                 "A=  -12abc\n"
                 "B=abc\n"
                 "C=+7\n"
                 "D=0x1F\n"
                 "E=\n"
                 "F=4294967297\n"
                 "G=-2147483648\n"
                 "H=12 34\n");
  auto read = [&](const char* key) {
    return ReadProfileInt(path_.c_str(), "VideoServer", key, 99);
  };
  EXPECT_EQ(read("A"), -12);
  EXPECT_EQ(read("B"), 0);
  EXPECT_EQ(read("C"), 7);
  EXPECT_EQ(read("D"), 31);
  EXPECT_EQ(read("E"), 99);  // an empty value reads as the default
  EXPECT_EQ(read("F"), 1);   // wraps modulo 2^32
  EXPECT_EQ(read("G"), -2147483647 - 1);
  EXPECT_EQ(read("H"), 12);
  EXPECT_EQ(read("Missing"), 99);
  EXPECT_EQ(ReadProfileInt(path_.c_str(), "Nowhere", "A", 5), 5);
  EXPECT_EQ(
      ReadProfileInt(dir_.File("absent.ini").c_str(), "VideoServer", "A", 2),
      2);
}

#ifndef _WIN32  // the Linux writer's bytes; on Windows the system's profile
                // functions lay out the file
TEST_F(SettingsFileTest, WriteReplacesKeyAndKeepsEveryOtherByte) {
  const std::string before =
      "; Venue settings, edited by hand\r\n"
      "[MainServer]\r\n"
      "FileServerIP = 10.0.0.5\r\n"
      "\r\n"
      "[VideoServer]\r\n"
      "  randplaytype = 3   ; old\r\n"
      "RandPlayType=4\r\n"
      "Other=x\r\n"
      "[KTV]\r\n"
      "DataBaseName=karaok";
  WriteFileBytes(path_, before);
  ASSERT_TRUE(
      WriteProfileString(path_.c_str(), "videoserver", "RandPlayType", "7")
          .ok());
  const std::string expected =
      "; Venue settings, edited by hand\r\n"
      "[MainServer]\r\n"
      "FileServerIP = 10.0.0.5\r\n"
      "\r\n"
      "[VideoServer]\r\n"
      "RandPlayType=7\r\n"
      "RandPlayType=4\r\n"
      "Other=x\r\n"
      "[KTV]\r\n"
      "DataBaseName=karaok";
  EXPECT_EQ(ReadFileBytes(path_), expected);
  EXPECT_EQ(ReadProfileInt(path_.c_str(), "VideoServer", "RandPlayType", 2), 7);
}

TEST_F(SettingsFileTest, WriteAddsKeyAfterTheSectionsLastLine) {
  WriteFileBytes(path_,
                 "[VideoServer]\n"
                 "Other=x\n"
                 "\n"
                 "[KTV]\n"
                 "DataBaseName=karaok\n");
  ASSERT_TRUE(
      WriteProfileString(path_.c_str(), "VideoServer", "RandPlayType", "-3")
          .ok());
  EXPECT_EQ(ReadFileBytes(path_),
            "[VideoServer]\n"
            "Other=x\n"
            "RandPlayType=-3\n"
            "\n"
            "[KTV]\n"
            "DataBaseName=karaok\n");
}

TEST_F(SettingsFileTest, WriteAddsKeyToLastSectionWithoutFinalNewline) {
  WriteFileBytes(path_,
                 "[MainServer]\r\nUserName=sa\r\n[VideoServer]\r\nOther=x");
  ASSERT_TRUE(
      WriteProfileString(path_.c_str(), "VideoServer", "RandPlayType", "5")
          .ok());
  EXPECT_EQ(ReadFileBytes(path_),
            "[MainServer]\r\nUserName=sa\r\n[VideoServer]\r\nOther="
            "x\r\nRandPlayType=5");
  EXPECT_EQ(ReadProfileInt(path_.c_str(), "VideoServer", "RandPlayType", 2), 5);
}

TEST_F(SettingsFileTest, WriteAddsNewSectionAtTheEnd) {
  WriteFileBytes(path_, "; comment\n[MainServer]\nUserName=sa\n");
  ASSERT_TRUE(
      WriteProfileString(path_.c_str(), "VideoServer", "RandPlayType", "2")
          .ok());
  EXPECT_EQ(
      ReadFileBytes(path_),
      "; comment\n[MainServer]\nUserName=sa\n[VideoServer]\nRandPlayType=2\n");

  WriteFileBytes(path_, "[MainServer]\r\nUserName=sa");
  ASSERT_TRUE(
      WriteProfileString(path_.c_str(), "VideoServer", "RandPlayType", "2")
          .ok());
  EXPECT_EQ(ReadFileBytes(path_),
            "[MainServer]\r\nUserName=sa\r\n[VideoServer]\r\nRandPlayType=2");
}

TEST_F(SettingsFileTest, WriteToMissingFileCreatesIt) {
  ASSERT_TRUE(
      WriteProfileString(path_.c_str(), "VideoServer", "RandPlayType", "7")
          .ok());
  EXPECT_EQ(ReadFileBytes(path_), "[VideoServer]\nRandPlayType=7\n");
  // Nothing is left beside it.
  EXPECT_EQ(dir_.EntryCount(), 1u);
}

#endif  // _WIN32

// What every writer keeps, however it lays out the file: the value written
// reads back, and every other value reads as before.
TEST_F(SettingsFileTest, WrittenValuesReadBackAndTheOthersStay) {
  WriteFileBytes(path_,
                 "[MainServer]\r\nFileServerIP=10.0.0.5\r\n"
                 "[VideoServer]\r\nRandPlayType=1\r\nOther=x\r\n");
  ASSERT_TRUE(
      WriteProfileString(path_.c_str(), "VideoServer", "RandPlayType", "7")
          .ok());
  ASSERT_TRUE(
      WriteProfileString(path_.c_str(), "KTV", "DataBaseName", "karaok").ok());
  EXPECT_EQ((std::vector<std::string>{Read("MainServer", "FileServerIP"),
                                      Read("VideoServer", "RandPlayType"),
                                      Read("VideoServer", "Other"),
                                      Read("KTV", "DataBaseName")}),
            (std::vector<std::string>{"10.0.0.5", "7", "x", "karaok"}));
}

TEST_F(SettingsFileTest, WriteIntoMissingDirectoryFails) {
  EXPECT_FALSE(WriteProfileString(dir_.File("no/such/dir.ini").c_str(),
                                  "VideoServer", "RandPlayType", "7")
                   .ok());
}

TEST_F(SettingsFileTest, WriteRefusesLineBreaksInNamesAndValues) {
  WriteFileBytes(path_, "[VideoServer]\nRandPlayType=1\n");
  EXPECT_FALSE(
      WriteProfileString(path_.c_str(), "VideoServer", "RandPlayType", "7\n[X]")
          .ok());
  EXPECT_FALSE(
      WriteProfileString(path_.c_str(), "Video]Server", "RandPlayType", "7")
          .ok());
  EXPECT_EQ(ReadFileBytes(path_), "[VideoServer]\nRandPlayType=1\n");
}

#ifndef _WIN32  // Linux only: file modes, links and failures injected through
                // the system-call table
TEST_F(SettingsFileTest, ShortWriteLeavesTheOldFileWhole) {
  const std::string before = "[VideoServer]\nRandPlayType=1\n; keep me\n";
  WriteFileBytes(path_, before);
  SetWriteBudget(5);
  EXPECT_FALSE(
      WriteProfileString(path_.c_str(), "VideoServer", "RandPlayType", "9")
          .ok());
  SetWriteBudget(-1);
  EXPECT_EQ(ReadFileBytes(path_), before);
  // The partial file written beside it was removed.
  EXPECT_EQ(dir_.EntryCount(), 1u);
}

// Where the settings path stands before RandPlayType is saved.
enum class Situation {
  kRegular,
  kSymlink,         // the path is a link to the file in another folder
  kReadOnlyFile,    // every write bit cleared
  kReadOnlyFolder,  // the file is writable, its folder has no write bit
  kOwnerRefused,    // the writer may not give a new file the owner
  kAbsent,
};

struct SaveCase {
  const char* name;
  Situation situation;
  bool saved;
  bool in_place;  // the file keeps its inode: rewritten in place or untouched
};

void PrintTo(const SaveCase& c, std::ostream* os) { *os << c.name; }

class SettingsSave : public ::testing::Test {
 protected:
  void TearDown() override {
    RefuseOwnerChanges(false);
    SetWriteBudget(-1);
    chmod(folder_.path().c_str(), 0755);  // lets the scratch folder go
  }

  // What an operator sees of the settings path: link or file, the file's
  // owner, group and mode, and how many entries its folder holds (a new file
  // left beside it would show).
  std::string Standing() const {
    struct stat link_info;
    struct stat info;
    if (lstat(path_.c_str(), &link_info) != 0 ||
        stat(path_.c_str(), &info) != 0) {
      return "absent";
    }
    std::ostringstream text;
    text << (S_ISLNK(link_info.st_mode) ? "link " : "file ") << info.st_uid
         << ":" << info.st_gid << " " << std::oct << (info.st_mode & 07777)
         << " entries=" << std::dec << folder_.EntryCount();
    return text.str();
  }

  // Puts the file, owned by someone else where the test may do that, in the
  // situation; path_ is then what the writer is given.
  void Arrange(Situation situation) {
    if (situation == Situation::kAbsent) return;
    WriteFileBytes(file_, kBefore);
    (void)!chown(file_.c_str(), 4321, 4321);  // as root only
    chmod(file_.c_str(), situation == Situation::kReadOnlyFile ? 0444 : 0640);
    if (situation == Situation::kSymlink) {
      path_ = links_.File("Korvane.ini");
      ASSERT_EQ(symlink(file_.c_str(), path_.c_str()), 0);
    }
    if (situation == Situation::kReadOnlyFolder)
      chmod(folder_.path().c_str(), 0555);
    if (situation == Situation::kOwnerRefused) RefuseOwnerChanges(true);
  }

  static ino_t Inode(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
  }

  static constexpr char kBefore[] =
      "; operators' settings\r\n[VideoServer]\r\nRandPlayType=1\r\n";
  static constexpr char kAfter[] =
      "; operators' settings\r\n[VideoServer]\r\nRandPlayType=7\r\n";
  ScratchDir folder_;
  ScratchDir links_;
  std::string file_ = folder_.File("Korvane.ini");
  std::string path_ = file_;
};

class SettingsSaveTest : public SettingsSave,
                         public ::testing::WithParamInterface<SaveCase> {};

TEST_P(SettingsSaveTest, SavingEditsTheFileInPlaceOrNotAtAll) {
  const SaveCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(Arrange(c.situation));
  const mode_t mask = umask(0);
  umask(mask);
  std::ostringstream created;
  created << "file " << getuid() << ":" << getgid() << " " << std::oct
          << (0644 & ~mask) << " entries=1";
  const std::string standing =
      c.situation == Situation::kAbsent ? created.str() : Standing();
  const std::string bytes = !c.saved ? kBefore
                            : c.situation == Situation::kAbsent
                                ? "[VideoServer]\nRandPlayType=7\n"
                                : kAfter;
  const ino_t inode = Inode(path_);

  const bool saved =
      WriteProfileString(path_.c_str(), "VideoServer", "RandPlayType", "7")
          .ok();
  EXPECT_EQ(std::make_tuple(saved, Inode(path_) == inode, Standing(),
                            ReadFileBytes(path_)),
            std::make_tuple(c.saved, c.in_place, standing, bytes));
}

INSTANTIATE_TEST_SUITE_P(
    Situations, SettingsSaveTest,
    ::testing::Values(
        SaveCase{"Regular", Situation::kRegular, true, false},
        SaveCase{"Symlink", Situation::kSymlink, true, false},
        SaveCase{"ReadOnlyFile", Situation::kReadOnlyFile, false, true},
        SaveCase{"ReadOnlyFolder", Situation::kReadOnlyFolder, true, true},
        SaveCase{"OwnerRefused", Situation::kOwnerRefused, true, true},
        SaveCase{"Absent", Situation::kAbsent, true, false}),
    [](const ::testing::TestParamInfo<SaveCase>& info) {
      return std::string(info.param.name);
    });

// Without a writable folder the file is rewritten through the same writes the
// fault injection cuts short; a short write is reported.
TEST_F(SettingsSave, ShortWriteInPlaceIsReported) {
  Arrange(Situation::kReadOnlyFolder);
  SetWriteBudget(5);
  EXPECT_FALSE(
      WriteProfileString(path_.c_str(), "VideoServer", "RandPlayType", "7")
          .ok());
}

#endif  // _WIN32

}  // namespace
}  // namespace platform
}  // namespace rondel
