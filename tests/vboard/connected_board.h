// A virtual board with a raw device client and a mailbox client connected to it.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "device_client.h"
#include "mailbox_client.h"
#include "virtual_board_fixture.h"

namespace vboard_test {

class ConnectedBoardTest : public qax_test::VirtualBoardTest {
protected:
    void SetUp() override {
        VirtualBoardTest::SetUp();
        if (HasFatalFailure()) return;
        client_ = std::make_unique<DeviceClient>(device_path());
        ASSERT_TRUE(client_->connected());
        mailbox_ = std::make_unique<MailboxClient>(*client_);
    }
    void TearDown() override {
        mailbox_.reset();
        client_.reset();
        VirtualBoardTest::TearDown();
    }
    DeviceClient &client() { return *client_; }
    MailboxClient &mailbox() { return *mailbox_; }

private:
    std::unique_ptr<DeviceClient> client_;
    std::unique_ptr<MailboxClient> mailbox_;
};

}  // namespace vboard_test
