#include "bluetooth/address.h"

#include <gtest/gtest.h>

namespace tarvik {
namespace {

TEST(Address, TheTextPicksTheTransport) {
  EXPECT_EQ(ParseReaderAddress("00:1A:7D:DA:71:13"), ReaderAddress(BluetoothAddress{0x001A7DDA7113}));
  EXPECT_EQ(ParseReaderAddress("001a7dda7113"), ReaderAddress(BluetoothAddress{0x001A7DDA7113}));
  EXPECT_EQ(ParseReaderAddress(" COM5 "), ReaderAddress(SerialAddress{5, 9600}));
  EXPECT_EQ(ParseReaderAddress("com12:115200"), ReaderAddress(SerialAddress{12, 115200}));
  EXPECT_EQ(ParseReaderAddress("COM3:9600:RtsCts"),
            ReaderAddress(SerialAddress{3, 9600, FlowControl::kRtsCts}));
  EXPECT_EQ(ParseReaderAddress("COM3:19200:xonxoff"),
            ReaderAddress(SerialAddress{3, 19200, FlowControl::kXonXoff}));
  EXPECT_EQ(ParseReaderAddress("tcp://127.0.0.1:5000"), ReaderAddress(TcpAddress{"127.0.0.1", 5000}));
  EXPECT_EQ(ParseReaderAddress("TCP://[::1]:7"), ReaderAddress(TcpAddress{"::1", 7}));
  EXPECT_EQ(ParseReaderAddress("tcp://reader.local:23"), ReaderAddress(TcpAddress{"reader.local", 23}));
}

TEST(Address, WhatIsNoAddress) {
  for (auto bad : {"", "()", "00:1A:7D:DA:71", "00:1A:7D:DA:71:1G", "001A7DDA71133", "COM", "COM0",
                   "COM5:", "COM5:fast", "COM5:9600:", "COM5:9600:dtr", "COMX", "tcp://host", "tcp://host:0", "tcp://host:99999",
                   "tcp://:80", "hello"})
    EXPECT_FALSE(ParseReaderAddress(bad)) << bad;
}

TEST(Address, FormattingAndParentheses) {
  EXPECT_EQ(FormatBluetoothAddress(0x001A7DDA7113), "00:1A:7D:DA:71:13");
  EXPECT_EQ(StripParentheses("(COM5)"), "COM5");
  EXPECT_EQ(StripParentheses("()"), "");
  EXPECT_EQ(StripParentheses("COM5"), "COM5");
}

TEST(Address, TheSerialPortServiceClass) {
  const auto g = ParseGuid("{00001101-0000-1000-8000-00805F9B34FB}");
  ASSERT_TRUE(g);
  EXPECT_EQ(g->data1, 0x00001101u);
  EXPECT_EQ(g->data2, 0x0000);
  EXPECT_EQ(g->data3, 0x1000);
  const std::uint8_t tail[8] = {0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(g->data4[i], tail[i]);
  EXPECT_EQ(ParseGuid("00001101-0000-1000-8000-00805f9b34fb"), g);
  EXPECT_FALSE(ParseGuid("{00001101-0000-1000-8000-00805F9B34F}"));
  EXPECT_FALSE(ParseGuid("{00001101+0000-1000-8000-00805F9B34FB}"));
}

}  // namespace
}  // namespace tarvik
