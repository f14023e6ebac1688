#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <cstring>
#include <limits>

#include "hostsim/services/streams.h"

using hostsim::LoadStream;
using hostsim::SaveStream;

namespace {

void writeAll(const LWSaveState *s) {
  const char i1 = static_cast<char>(-5); // the host's 1-byte signed kind is plain char
  const int16_t i2[2] = {-32768, 32767};
  const int32_t i4 = -123456789;
  const uint8_t u1 = 250;
  const uint16_t u2 = 65535;
  const uint32_t u4 = 4000000000u;
  const float fp = 0.1f;
  const double dp[3] = {std::numbers::pi, -0.0, std::numeric_limits<double>::infinity()};
  s->writeI1(s->writeData, &i1, 1);
  s->writeI2(s->writeData, i2, 2);
  s->writeI4(s->writeData, &i4, 1);
  s->writeU1(s->writeData, &u1, 1);
  s->writeU2(s->writeData, &u2, 1);
  s->writeU4(s->writeData, &u4, 1);
  s->writeFP(s->writeData, &fp, 1);
  s->writeDP(s->writeData, dp, 3);
  s->writeStr(s->writeData, "Name with \"quotes\", \\ and\nnewline");
  s->writeStr(s->writeData, "");
  s->write(s->writeData, "\x01\xff", 2);
}

void readAll(const LWLoadState *l) {
  char i1;
  int16_t i2[2];
  int32_t i4;
  uint8_t u1;
  uint16_t u2;
  uint32_t u4;
  float fp;
  double dp[3];
  char str[64], empty[4], raw[2];
  ASSERT_EQ(l->readI1(l->readData, &i1, 1), 1);
  ASSERT_EQ(l->readI2(l->readData, i2, 2), 2);
  ASSERT_EQ(l->readI4(l->readData, &i4, 1), 1);
  ASSERT_EQ(l->readU1(l->readData, &u1, 1), 1);
  ASSERT_EQ(l->readU2(l->readData, &u2, 1), 1);
  ASSERT_EQ(l->readU4(l->readData, &u4, 1), 1);
  ASSERT_EQ(l->readFP(l->readData, &fp, 1), 1);
  ASSERT_EQ(l->readDP(l->readData, dp, 3), 3);
  ASSERT_GE(l->readStr(l->readData, str, sizeof str), 0);
  ASSERT_EQ(l->readStr(l->readData, empty, sizeof empty), 0);
  ASSERT_EQ(l->read(l->readData, raw, 2), 2);
  EXPECT_EQ(static_cast<int8_t>(i1), -5);
  EXPECT_EQ(i2[0], -32768);
  EXPECT_EQ(i2[1], 32767);
  EXPECT_EQ(i4, -123456789);
  EXPECT_EQ(u1, 250);
  EXPECT_EQ(u2, 65535);
  EXPECT_EQ(u4, 4000000000u);
  EXPECT_EQ(fp, 0.1f);
  EXPECT_EQ(dp[0], std::numbers::pi);
  EXPECT_TRUE(std::signbit(dp[1]));
  EXPECT_TRUE(std::isinf(dp[2]));
  EXPECT_STREQ(str, "Name with \"quotes\", \\ and\nnewline");
  EXPECT_STREQ(empty, "");
  EXPECT_EQ(raw[0], 1);
  EXPECT_EQ(static_cast<uint8_t>(raw[1]), 0xff);
}

TEST(Streams, EveryPrimitiveRoundTripsInBothForms) {
  for (int32_t mode : {LWIO_BINARY, LWIO_ASCII}) {
    SCOPED_TRACE(mode);
    SaveStream out(mode);
    writeAll(out.state());
    LoadStream in(out.bytes(), mode);
    readAll(in.state());
    EXPECT_FALSE(in.failed());
    EXPECT_TRUE(in.atEnd());
  }
}

TEST(Streams, BinaryIsBigEndianWithTerminatedStrings) {
  SaveStream out;
  const int16_t v = 0x1234;
  const double d = 1.0;
  out.state()->writeI2(out.state()->writeData, &v, 1);
  out.state()->writeDP(out.state()->writeData, &d, 1);
  out.state()->writeStr(out.state()->writeData, "ab");
  const std::vector<uint8_t> expected = {0x12, 0x34, 0x3f, 0xf0, 0, 0, 0, 0, 0, 0, 'a', 'b', 0};
  EXPECT_EQ(out.bytes(), expected);
}

TEST(Streams, TextFormIsReadable) {
  SaveStream out(LWIO_ASCII);
  const int16_t v[2] = {3, -4};
  out.state()->writeI2(out.state()->writeData, v, 2);
  out.state()->writeStr(out.state()->writeData, "Jux \"1\"");
  EXPECT_EQ(out.text(), "3 -4\n\"Jux \\\"1\\\"\"\n");
}

// Numbers are written as "%.17g" (doubles) and "%.9g" (floats) write them:
// saved scenes hold these characters.
TEST(Streams, TextNumbersKeepTheirCharacters) {
  SaveStream out(LWIO_ASCII);
  const double dp[6] = {0.1, -0.0, 1e-300, 123456789012345678.0, std::numeric_limits<double>::infinity(),
                        -std::numeric_limits<double>::quiet_NaN()};
  const float fp[2] = {0.1f, 3e38f};
  const int32_t i4[2] = {INT32_MIN, 0};
  out.state()->writeDP(out.state()->writeData, dp, 6);
  out.state()->writeFP(out.state()->writeData, fp, 2);
  out.state()->writeI4(out.state()->writeData, i4, 2);
  EXPECT_EQ(out.text(), "0.10000000000000001 -0 1e-300 1.2345678901234568e+17 inf -nan\n"
                        "0.100000001 3.00000001e+38\n-2147483648 0\n");
}

TEST(Streams, ReadPastTheEndFailsWithZeros) {
  const std::vector<uint8_t> three = {0x7f, 0x01, 0x02};
  LoadStream in(three);
  int32_t v = 42;
  EXPECT_EQ(in.state()->readI4(in.state()->readData, &v, 1), -1);
  EXPECT_EQ(v, 0);
  EXPECT_TRUE(in.failed());
  // Failure is sticky: nothing after it is read, not even what would fit.
  char b = 9;
  EXPECT_EQ(in.state()->readI1(in.state()->readData, &b, 1), -1);
  EXPECT_EQ(b, 0);
}

TEST(Streams, StringReadsHonourTheirMaximumAndTerminate) {
  for (int32_t mode : {LWIO_BINARY, LWIO_ASCII}) {
    SCOPED_TRACE(mode);
    SaveStream out(mode);
    out.state()->writeStr(out.state()->writeData, "0123456789");
    out.state()->writeStr(out.state()->writeData, "next");
    LoadStream in(out.bytes(), mode);
    char buf[5];
    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(in.state()->readStr(in.state()->readData, buf, sizeof buf), 4);
    EXPECT_STREQ(buf, "0123");
    char next[8];
    EXPECT_EQ(in.state()->readStr(in.state()->readData, next, sizeof next), 4) << "the rest of the long string is skipped";
    EXPECT_STREQ(next, "next");
    EXPECT_EQ(in.state()->readStr(in.state()->readData, next, 0), -1) << "no room even for the terminator";
  }
}

TEST(Streams, UnterminatedAndMalformedDataFail) {
  const std::vector<uint8_t> noNul = {'a', 'b', 'c'};
  LoadStream bin(noNul);
  char buf[8] = "zzzzzzz";
  EXPECT_EQ(bin.state()->readStr(bin.state()->readData, buf, sizeof buf), -1);
  EXPECT_STREQ(buf, "");

  for (const char *text : {"\"open", "12x", "70000", "\"bad\\x4\"", "#0"}) {
    SCOPED_TRACE(text);
    LoadStream in(std::string(text), LWIO_ASCII);
    int16_t v = 5;
    char s[8];
    const int32_t got = text[0] == '"' ? in.state()->readStr(in.state()->readData, s, sizeof s)
                        : text[0] == '#' ? in.state()->read(in.state()->readData, s, 2)
                                         : in.state()->readI2(in.state()->readData, &v, 1);
    EXPECT_EQ(got, -1);
    EXPECT_TRUE(in.failed());
  }
}

} // namespace

namespace {

TEST(Streams, BlocksNestSkipAndEndInBothForms) {
  const LWBlockIdent outer[] = {{0x4F555452u, "Outer"}, {0, nullptr}};
  const LWBlockIdent inner[] = {{0x494E4E52u, "Inner"}, {0x534B4950u, "Skip"}, {0, nullptr}};
  const LWBlockIdent wanted[] = {{0x494E4E52u, "Inner"}, {0, nullptr}};
  for (int32_t mode : {LWIO_BINARY, LWIO_ASCII}) {
    SCOPED_TRACE(mode);
    hostsim::SaveStream out(mode);
    const LWSaveState *s = out.state();
    const int32_t one = 1, two = 2, three = 3;
    s->beginBlk(s->writeData, &outer[0], 0);
    EXPECT_EQ(s->depth(s->writeData), 1);
    s->beginBlk(s->writeData, &inner[1], 1); // skipped when reading
    s->writeI4(s->writeData, &one, 1);
    s->endBlk(s->writeData);
    s->beginBlk(s->writeData, &inner[0], 1);
    s->writeI4(s->writeData, &two, 1);
    s->writeI4(s->writeData, &one, 1); // left unread
    s->endBlk(s->writeData);
    s->endBlk(s->writeData);
    s->writeI4(s->writeData, &three, 1);
    EXPECT_EQ(s->depth(s->writeData), 0);

    hostsim::LoadStream in(out.bytes(), mode);
    const LWLoadState *l = in.state();
    EXPECT_EQ(l->readID(l->readData, wanted), 0u) << "the next block is not one asked for";
    ASSERT_EQ(l->readID(l->readData, outer), outer[0].id);
    ASSERT_EQ(l->findBlk(l->readData, wanted), wanted[0].id);
    EXPECT_EQ(l->depth(l->readData), 2);
    int32_t v = 0;
    ASSERT_EQ(l->readI4(l->readData, &v, 1), 1);
    EXPECT_EQ(v, 2);
    l->endBlk(l->readData); // skips what is left of it
    EXPECT_EQ(l->findBlk(l->readData, wanted), 0u) << "no more in the outer block";
    l->endBlk(l->readData);
    EXPECT_EQ(l->depth(l->readData), 0);
    ASSERT_EQ(l->readI4(l->readData, &v, 1), 1);
    EXPECT_EQ(v, 3);
    EXPECT_TRUE(in.atEnd());
  }
}

TEST(Streams, ABinaryBlockBoundsItsReads) {
  const LWBlockIdent id[] = {{0x41424344u, "ABCD"}, {0, nullptr}};
  hostsim::SaveStream out;
  const int16_t small = 7;
  const int32_t after = 9;
  out.state()->beginBlk(out.state()->writeData, &id[0], 1);
  out.state()->writeI2(out.state()->writeData, &small, 1);
  out.state()->endBlk(out.state()->writeData);
  out.state()->writeI4(out.state()->writeData, &after, 1);
  hostsim::LoadStream in(out.bytes());
  const LWLoadState *l = in.state();
  ASSERT_EQ(l->readID(l->readData, id), id[0].id);
  int32_t v = 0;
  EXPECT_EQ(l->readI4(l->readData, &v, 1), -1) << "four bytes do not fit in a block of two";
}

} // namespace
