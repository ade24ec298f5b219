#include "net/TNetBuffers.h"

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "net/NetExceptions.h"

namespace veilex {
namespace {

std::string Pattern(size_t length) {
  std::string bytes(length, '\0');
  for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>('a' + (i * 7 + i / 26) % 26);
  return bytes;
}

TEST(TNetSimpleBuffer, ExtractsAndRemovesFromTheFrontAndReportsIt) {
  TNetSimpleBuffer buffer;
  std::vector<int64_t> removed;
  buffer.OnBytesRemoved = [&](TNetSimpleBuffer* sender, int64_t bytes) {
    EXPECT_EQ(sender, &buffer);
    removed.push_back(bytes);
  };
  buffer.WriteString("hello world");
  EXPECT_EQ(buffer.ExtractBytes(6), "hello ");
  EXPECT_EQ(buffer.Size(), 5);
  buffer.Remove(2);
  EXPECT_EQ(std::string(buffer.Memory(), 3), "rld");
  EXPECT_EQ(buffer.ExtractBytes(0), "");
  EXPECT_EQ(removed, (std::vector<int64_t>{6, 2}));
}

TEST(TNetSimpleBuffer, RefusesToGiveMoreThanItHolds) {
  TNetSimpleBuffer buffer;
  buffer.WriteString("abc");
  try {
    buffer.ExtractBytes(4);
    FAIL();
  } catch (const ENetNotEnoughDataInBuffer& error) {
    EXPECT_STREQ(error.what(), "Pas suffisamment de données en mémoire tampon.");
  }
  EXPECT_THROW(buffer.Remove(4), ENetTCPConnectionError);
  EXPECT_EQ(buffer.Size(), 3);  // nothing lost by the refusal
}

TEST(TNetSimpleBuffer, IsAStreamWithPositionRelativeToItsFirstByte) {
  TNetSimpleBuffer buffer;
  buffer.WriteString("0123456789");
  buffer.SetPosition(2);
  char bytes[3] = {};
  EXPECT_EQ(buffer.Read(bytes, 3), 3);
  EXPECT_EQ(std::string(bytes, 3), "234");
  buffer.Remove(4);  // the position follows the bytes it pointed at
  EXPECT_EQ(buffer.Position(), 1);
  EXPECT_EQ(buffer.Read(bytes, 1), 1);
  EXPECT_EQ(bytes[0], '5');
  buffer.SetSize(2);
  EXPECT_EQ(std::string(buffer.Memory(), 2), "45");
  EXPECT_EQ(buffer.Position(), 2);
}

TEST(TNetManagedBuffer, MovesBytesOnlyOnceTheThresholdOfConsumedBytesIsReached) {
  const std::string source = Pattern(40000);
  TNetManagedBuffer buffer;
  buffer.Append(source.data(), static_cast<int64_t>(source.size()));

  buffer.Remove(1000);
  EXPECT_EQ(buffer.ConsumedCount(), 1000);
  EXPECT_EQ(buffer.Size(), 39000);
  EXPECT_EQ(buffer.Memory()[0], source[1000]);

  buffer.Remove(TNetManagedBuffer::CompactThreshold - 1001);
  buffer.Append("x", 1);  // below the threshold: nothing moves
  EXPECT_EQ(buffer.ConsumedCount(), TNetManagedBuffer::CompactThreshold - 1);

  buffer.Remove(1);  // the threshold is reached: the next append compacts
  EXPECT_EQ(buffer.ConsumedCount(), TNetManagedBuffer::CompactThreshold);
  buffer.Append("y", 1);
  EXPECT_EQ(buffer.ConsumedCount(), 0);
  EXPECT_EQ(buffer.Size(), 40000 - TNetManagedBuffer::CompactThreshold + 2);
  EXPECT_EQ(std::string(buffer.Memory(), 10), source.substr(TNetManagedBuffer::CompactThreshold, 10));
  EXPECT_EQ(std::string(buffer.Memory() + buffer.Size() - 2, 2), "xy");

  buffer.Remove(10);
  EXPECT_EQ(buffer.ConsumedCount(), 10);
  buffer.Remove(buffer.Size());  // everything consumed: emptied outright
  EXPECT_EQ(buffer.ConsumedCount(), 0);
  EXPECT_EQ(buffer.Size(), 0);
}

TEST(TNetManagedBuffer, FiresRemovalForEveryRemoveAndExtract) {
  TNetManagedBuffer buffer;
  int64_t total = 0;
  buffer.OnBytesRemoved = [&](TNetSimpleBuffer*, int64_t bytes) { total += bytes; };
  buffer.Append("abcdef", 6);
  buffer.Remove(2);
  EXPECT_EQ(buffer.ExtractBytes(4), "cdef");
  EXPECT_EQ(total, 6);
  buffer.Append("xy", 2);
  buffer.Clear();
  EXPECT_EQ(buffer.Size(), 0);
  EXPECT_EQ(buffer.ConsumedCount(), 0);
  EXPECT_EQ(total, 6);  // Clear is not a consumption
}

// Random appends (through Reserve/Commit and Append) and removals against a
// plain string holding what the buffer should hold.
TEST(TNetManagedBuffer, MatchesAPlainModelUnderRandomUse) {
  std::mt19937 random(1234);
  TNetManagedBuffer buffer;
  std::string model;
  size_t next = 0;
  const std::string source = Pattern(1 << 20);
  for (int step = 0; step < 5000; ++step) {
    const int action = static_cast<int>(random() % 3);
    if (action == 0) {
      const size_t n = random() % 9000;
      const size_t from = next % (source.size() - n);
      char* tail = buffer.Reserve(static_cast<int64_t>(n + 100));
      std::memcpy(tail, source.data() + from, n);
      buffer.Commit(static_cast<int64_t>(n));
      model.append(source, from, n);
      next += n;
    } else if (action == 1) {
      const size_t n = random() % 500;
      buffer.Append(source.data() + n, static_cast<int64_t>(n));
      model.append(source, n, n);
    } else if (!model.empty()) {
      const size_t n = random() % (model.size() + 1);
      if (random() % 2) {
        ASSERT_EQ(buffer.ExtractBytes(static_cast<int64_t>(n)), model.substr(0, n));
      } else {
        buffer.Remove(static_cast<int64_t>(n));
      }
      model.erase(0, n);
    }
    ASSERT_EQ(buffer.Size(), static_cast<int64_t>(model.size()));
    // Once bytes are added, consumed ones never stay past the threshold.
    if (action != 2) {
      ASSERT_LT(buffer.ConsumedCount(), TNetManagedBuffer::CompactThreshold);
    }
    ASSERT_EQ(std::string(buffer.Memory(), model.size()), model) << "step " << step;
  }
}

}  // namespace
}  // namespace veilex
