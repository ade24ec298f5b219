#include "http/TNetBodyStream.h"

#include <gtest/gtest.h>

namespace veilex {
namespace {

TEST(TNetBodyStream, AppendsOverwritesAndCuts) {
  TNetBodyStream stream;
  stream.Reserve(64 << 20);
  stream.WriteString("hello world");
  EXPECT_EQ(stream.Size(), 11);
  stream.SetPosition(6);
  stream.WriteString("WORLD!!");
  EXPECT_EQ(stream.Size(), 13);
  stream.SetPosition(2);
  char two[2];
  EXPECT_EQ(stream.Read(two, 2), 2);
  EXPECT_EQ(std::string(two, 2), "ll");
  stream.SetSize(5);  // a redirect's body is cut away like this
  EXPECT_EQ(stream.Position(), 4);
  stream.SetPosition(5);
  stream.WriteString("!");
  EXPECT_EQ(stream.TakeBytes(), "hello!");
  EXPECT_EQ(stream.Size(), 0);
}

}  // namespace
}  // namespace veilex
