// Shared setup of the host's own tests: a freshly reset host at 60 frames per second.
#pragma once

#include <gtest/gtest.h>

#include "simhost/Host.h"

namespace simhosttest {

class HostTest : public ::testing::Test {
protected:
    void SetUp() override { host.Reset(); }
    void TearDown() override { host.Reset(); }

    simhost::Host &host = simhost::TheHost();
};

}  // namespace simhosttest
