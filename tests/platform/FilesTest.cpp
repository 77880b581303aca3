#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "tests/support/TempDir.h"

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
  ASSERT_TRUE(MoveOnto(part, file));
  EXPECT_FALSE(MoveOnto(part, file)) << "nothing left to move";

  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(SystemPath(folder)))
    names.push_back(SystemName(entry.path().filename()));
  EXPECT_EQ(names, std::vector<std::string>{fileName});
  std::vector<std::string> folders;
  for (const auto& entry : std::filesystem::directory_iterator(SystemPath(dir.Path())))
    folders.push_back(SystemName(entry.path().filename()));
  EXPECT_EQ(folders, std::vector<std::string>{folderName});

  std::string why;
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

}  // namespace
