#include "rtl/Streams.h"

#include <gtest/gtest.h>

#include <string>

namespace veilex {
namespace {

template <typename Stream>
std::string ReadAll(Stream& s) {
  std::string out(static_cast<size_t>(s.Size() - s.Position()), '\0');
  const int64_t n = s.Read(out.data(), static_cast<int64_t>(out.size()));
  out.resize(static_cast<size_t>(n));
  return out;
}

template <typename T>
class StreamTest : public ::testing::Test {};
using StreamTypes = ::testing::Types<TMemoryStream, TStringStream>;
TYPED_TEST_SUITE(StreamTest, StreamTypes);

TYPED_TEST(StreamTest, WriteReadSeekAndCut) {
  TypeParam s;
  s.WriteString("hello world");
  EXPECT_EQ(s.Size(), 11);
  EXPECT_EQ(s.Position(), 11);
  s.SetPosition(6);
  EXPECT_EQ(ReadAll(s), "world");
  char byte = 0;
  EXPECT_EQ(s.Read(&byte, 1), 0);  // at the end

  s.Seek(-5, TSeekOrigin::soEnd);
  s.WriteString("there!");  // overwrites and grows
  s.SetPosition(0);
  EXPECT_EQ(ReadAll(s), "hello there!");

  s.SetSize(5);  // cutting moves a position past the end back to it
  EXPECT_EQ(s.Position(), 5);
  s.SetPosition(0);
  EXPECT_EQ(ReadAll(s), "hello");
}

TYPED_TEST(StreamTest, WritingPastTheEndFillsTheGapWithZeros) {
  TypeParam s;
  s.WriteString("ab");
  s.SetSize(0);
  s.SetPosition(3);
  s.WriteString("z");
  s.SetPosition(0);
  EXPECT_EQ(ReadAll(s), std::string("\0\0\0z", 4));
}

TYPED_TEST(StreamTest, SeekNeverGoesBeforeTheStart) {
  TypeParam s;
  s.WriteString("abc");
  EXPECT_EQ(s.Seek(-10, TSeekOrigin::soCurrent), 0);
}

TEST(TMemoryStream, GrowsPieceByPieceAndKeepsBytes) {
  TMemoryStream s;
  std::string expected;
  for (int i = 0; i < 10000; ++i) {
    const std::string piece = std::to_string(i) + ";";
    s.WriteString(piece);
    expected += piece;
  }
  EXPECT_EQ(s.DataString(), expected);
  s.Clear();
  EXPECT_EQ(s.Size(), 0);
  EXPECT_EQ(s.Position(), 0);
}

}  // namespace
}  // namespace veilex
