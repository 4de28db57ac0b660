// The checked reads every header parser goes through.
#include "net/byte_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

namespace {

TEST(ByteReaderTest, ReadsInsideTheBytesAndFailsForGoodOutsideThem) {
  const std::vector<std::uint8_t> bytes = {0x12, 0x34, 0x56, 0x78, 0x9A};
  net::ByteReader reader(bytes);
  EXPECT_EQ(reader.U8(4), 0x9A);
  EXPECT_EQ(reader.U16(3), 0x789A);  // big-endian
  EXPECT_EQ(reader.U32(1), 0x3456789Au);
  EXPECT_EQ(reader.Bytes(1, 4).data(), bytes.data() + 1);
  EXPECT_TRUE(reader.Rest(5).empty());
  EXPECT_TRUE(reader.ok());

  // Offsets near the top of the range must not wrap round to the start.
  constexpr std::size_t kFar = std::numeric_limits<std::size_t>::max();
  EXPECT_FALSE(reader.Has(kFar, 2));
  EXPECT_FALSE(reader.Has(2, kFar));
  EXPECT_TRUE(reader.Has(5, 0));
  EXPECT_TRUE(reader.Rest(kFar).empty());
  EXPECT_TRUE(reader.ok());  // asking is no failed read

  EXPECT_EQ(reader.U32(2), 0u);  // one byte short
  EXPECT_FALSE(reader.ok());
  EXPECT_EQ(reader.U8(0), 0x12);  // later reads still read, the failure stays
  EXPECT_FALSE(reader.ok());

  net::ByteReader far(bytes);
  EXPECT_EQ(far.U16(kFar), 0);
  EXPECT_TRUE(far.Bytes(kFar - 1, 2).empty());
  EXPECT_FALSE(far.ok());
}

}  // namespace
