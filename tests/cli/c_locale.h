// A test fixture under which the programs (and the sort they start) compare text byte by
// byte, whatever locale the tests run in; and a locale set for the programs of one table.
#pragma once

#include <clocale>
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

// LC_ALL as name for the programs started while the object lives. ok is false, and nothing
// set, when the C library does not have that locale.
struct ScopedLcAll {
    std::string saved;
    bool had = false, ok = false;
    explicit ScopedLcAll(const char *name) {
        std::string own = setlocale(LC_CTYPE, nullptr);
        ok = setlocale(LC_CTYPE, name) != nullptr;
        setlocale(LC_CTYPE, own.c_str());
        if (!ok) return;
        if (const char *v = getenv("LC_ALL")) {
            had = true;
            saved = v;
        }
        setenv("LC_ALL", name, 1);
    }
    ~ScopedLcAll() {
        if (!ok) return;
        if (had)
            setenv("LC_ALL", saved.c_str(), 1);
        else
            unsetenv("LC_ALL");
    }
};
