#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "tests/support/TempDir.h"

#ifdef _WIN32
#include <windows.h>
// After windows.h, which they take for granted.
#include <aclapi.h>
#else
#include <sys/stat.h>
#endif

namespace {

// Names as a technician types them, beyond ASCII and beyond any one ANSI code page: é, € and
// Cyrillic reach the files exactly as typed, on Windows too.
TEST(Files, NamesBeyondAsciiReachTheFilesAsTyped) {
  TempDir dir;
  const std::string folderName =
      "Jos\xC3\xA9 \xD0\x9F\xD0\xB0\xD0\xBF\xD0\xBA\xD0\xB0";  // José Папка
  const std::string fileName = "\xE2\x82\xAC-preis.bin";       // €-preis.bin
  const std::string folder = dir.FilePath(folderName);
  ASSERT_TRUE(std::filesystem::create_directory(SystemPath(folder)));
  const std::string file = SystemName(SystemPath(folder) / SystemPath(fileName));
  const std::string part = file + ".part";

  std::FILE* out = OpenFile(part, "wb");
  ASSERT_NE(out, nullptr);
  const std::vector<std::uint8_t> bytes = {1, 2, 3, 0, 0xFF};
  ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), out), bytes.size());
  ASSERT_EQ(std::fclose(out), 0);
  std::string why;
  ASSERT_TRUE(MoveOnto(part, file, why)) << why;
  EXPECT_FALSE(MoveOnto(part, file, why)) << "nothing left to move";

  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(SystemPath(folder)))
    names.push_back(SystemName(entry.path().filename()));
  EXPECT_EQ(names, std::vector<std::string>{fileName});
  std::vector<std::string> folders;
  for (const auto& entry : std::filesystem::directory_iterator(SystemPath(dir.Path())))
    folders.push_back(SystemName(entry.path().filename()));
  EXPECT_EQ(folders, std::vector<std::string>{folderName});

  std::FILE* in = OpenRegularFile(file, why);
  ASSERT_NE(in, nullptr) << why;
  FileStamp stamp;
  ASSERT_TRUE(StampOf(in, stamp));
  EXPECT_EQ(stamp.Size, bytes.size());
  std::vector<std::uint8_t> back(bytes.size());
  EXPECT_TRUE(ReadAt(in, 0, back.data(), back.size()));
  EXPECT_EQ(back, bytes);
  std::fclose(in);

  EXPECT_EQ(OpenRegularFile(folder, why), nullptr);
  EXPECT_TRUE(RemoveFile(file));
  EXPECT_FALSE(RemoveFile(file));
  EXPECT_TRUE(std::filesystem::is_empty(SystemPath(folder)));
}

// A move that fails says the system's own reason, never an error number left over from some
// earlier call; and a whole file that a name refuses is kept beside it, under a free name.
TEST(Files, AFailedMoveSaysWhyAndTheFileIsKeptBesideTheName) {
  TempDir dir;
  const std::string file = dir.FilePath("flash.bin");
  const std::string part = dir.FilePath("flash.bin.part");
  std::filesystem::create_directory(SystemPath(file));
  std::ofstream(SystemPath(file) / "inside") << "a folder in the way";
  std::ofstream(SystemPath(part), std::ios::binary) << "the whole read";
  std::ofstream(SystemPath(dir.FilePath("flash-kept-1.bin"))) << "an earlier one";

  errno = EIO;
  std::string why;
  EXPECT_FALSE(MoveOnto(part, file, why));
  EXPECT_FALSE(why.empty());
  EXPECT_NE(why, std::strerror(EIO));

  const std::string kept = KeepBeside(part, file);
  EXPECT_EQ(kept, dir.FilePath("flash-kept-2.bin"));
  std::ifstream in(SystemPath(kept));
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "the whole read");
  EXPECT_FALSE(std::filesystem::exists(SystemPath(part)));

  // Gone already: a move onto the name was made, and only the folder's sync failed.
  EXPECT_EQ(KeepBeside(dir.FilePath("moved.part"), file), file);
}

// Who besides its owner may open a file: nobody, as the system itself keeps it.
bool OthersMayOpen(const std::string& path) {
#ifdef _WIN32
  PACL rights = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const std::wstring name = SystemPath(path).wstring();
  if (GetNamedSecurityInfoW(name.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, &rights, nullptr, &descriptor) != ERROR_SUCCESS)
    return true;
  HANDLE token = nullptr;
  OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
  char buffer[256] = {};
  DWORD size = sizeof buffer;
  GetTokenInformation(token, TokenUser, buffer, size, &size);
  CloseHandle(token);
  const PSID me = reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid;
  // No list at all lets everyone in; every entry of the list must grant to this user or to the
  // operating system itself (which wine names on every file it makes).
  bool others = rights == nullptr || rights->AceCount == 0;
  for (DWORD i = 0; rights != nullptr && i < rights->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    if (!GetAce(rights, i, reinterpret_cast<void**>(&ace)) ||
        ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE)
      others = true;
    else if (const PSID sid = reinterpret_cast<PSID>(&ace->SidStart);
             !EqualSid(sid, me) && !IsWellKnownSid(sid, WinLocalSystemSid))
      others = true;
  }
  LocalFree(descriptor);
  return others;
#else
  struct stat info {};
  return ::stat(path.c_str(), &info) != 0 || (info.st_mode & 077) != 0;
#endif
}

// The record holds who did what: it is made for its user alone, and one that is there already
// keeps what it holds.
TEST(Files, AnOwnersFileIsMadeForItsUserAloneAndAFileThereIsLeftAsItIs) {
  TempDir dir;
  const std::string made = dir.FilePath("record.sqlite");
  EXPECT_EQ(CreateOwnersFile(made), "");
  EXPECT_TRUE(std::filesystem::is_regular_file(SystemPath(made)));
  EXPECT_EQ(std::filesystem::file_size(SystemPath(made)), 0u);
  EXPECT_FALSE(OthersMayOpen(made));

  std::ofstream(SystemPath(made), std::ios::binary) << "rows";
  EXPECT_EQ(CreateOwnersFile(made), "");
  std::ifstream in(SystemPath(made), std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "rows");

  EXPECT_NE(CreateOwnersFile(dir.FilePath("no folder/record.sqlite")), "");
}

}  // namespace
