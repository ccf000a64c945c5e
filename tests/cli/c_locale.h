// A test fixture under which the programs (and the sort they start) compare text byte by
// byte, whatever locale the tests run in.
#pragma once

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

struct CLocaleTest : ::testing::Test {
    std::string saved;
    bool had = false;
    void SetUp() override {
        if (const char *v = getenv("LC_ALL")) {
            had = true;
            saved = v;
        }
        setenv("LC_ALL", "C", 1);
    }
    void TearDown() override {
        if (had)
            setenv("LC_ALL", saved.c_str(), 1);
        else
            unsetenv("LC_ALL");
    }
};
