// GoogleTest support for the simulated LAN: a fixture that makes a fresh LAN for each test and skips the
// test, with the reason, where no LAN can be made (not root, namespaces refused). For tests only.
//
//   class ReceiverTest : public tarvo::lan::TLanTest {
//   protected:
//     ReceiverTest() : TLanTest(3) {}
//   };
//   TEST_F(ReceiverTest, FindsTheSender) { Lan().Start(1, {...}); ... }
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "lan_fixture.h"

// Skips the running test when no LAN can be made here; for tests that make their TLan themselves.
#define TARVO_REQUIRE_LAN()                                                              \
  if (const std::string& tarvoLanWhy = ::tarvo::lan::LanUnavailableReason(); !tarvoLanWhy.empty()) \
  GTEST_SKIP() << "no simulated LAN: " << tarvoLanWhy

// Skips the running test when the LAN's links cannot be given netem loss, delay or duplication here.
#define TARVO_REQUIRE_NETEM()                                                              \
  if (const std::string& tarvoNetemWhy = ::tarvo::lan::NetemUnavailableReason(); !tarvoNetemWhy.empty()) \
  GTEST_SKIP() << "no netem on the simulated LAN: " << tarvoNetemWhy

namespace tarvo::lan {

class TLanTest : public ::testing::Test {
protected:
  explicit TLanTest(int hostCount = 3, int twoAddressHost = 0)
      : FHostCount(hostCount), FTwoAddressHost(twoAddressHost) {}

  void SetUp() override {
    TARVO_REQUIRE_LAN();
    FLan = std::make_unique<TLan>(FHostCount, FTwoAddressHost);
  }
  void TearDown() override { FLan.reset(); }

  TLan& Lan() { return *FLan; }

private:
  int FHostCount;
  int FTwoAddressHost;
  std::unique_ptr<TLan> FLan;
};

}  // namespace tarvo::lan
