#pragma once
// A fake library service per test, and a client pointed at it with the caches emptied.
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "FakeService.h"
#include "online/OnlineAPI.h"

class OnlineServiceTest : public ::testing::Test {
protected:
    void SetUp() override { OnlineAPI::clearCash(); }
    void TearDown() override { OnlineAPI::clearCash(); }

    std::size_t countFor(const std::string& path) const { return service.requestsTo(path).size(); }

    // Every request was signed, ordered and labelled the way the service demands.
    void expectAllAccepted() const {
        for (auto& r : service.requests()) {
            EXPECT_EQ(r["uaOk"], true) << r.dump();
            EXPECT_EQ(r["orderOk"], true) << r.dump();
            EXPECT_NE(r["sigOk"], false) << r.dump();
        }
    }

    quillane::test::FakeService service;
    OnlineAPI api{{service.url(), service.caFile()}};
};
