#include "infra/Win.Utils.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

using namespace kva;

TEST(WinUtilsTest, ComputerNameIsTheHostName) {
  char Expected[256] = {};
  ASSERT_EQ(::gethostname(Expected, sizeof Expected - 1), 0);
  EXPECT_EQ(GetComputerName(), Expected);
  EXPECT_FALSE(GetComputerName().empty());
}

TEST(WinUtilsTest, ModuleVersions) {
  // This test program is built with the file version 3.1.4.15, the test module with 2.7.1.8.
  void* Versioned = ::dlopen(KVA_TEST_VERSIONED_MODULE, RTLD_NOW);
  ASSERT_NE(Versioned, nullptr) << ::dlerror();
  void* Unversioned = ::dlopen("libm.so.6", RTLD_NOW);
  ASSERT_NE(Unversioned, nullptr);

  struct TCase {
    const char* Name;
    TModuleHandle Module;
    bool Result;
    int Major, Minor, Release, Build;
  };
  const TCase Cases[] = {
      {"the program itself", 0, true, 3, 1, 4, 15},
      {"a module with a version", reinterpret_cast<TModuleHandle>(Versioned), true, 2, 7, 1, 8},
      {"a module without a version", reinterpret_cast<TModuleHandle>(Unversioned), false, 0, 0, 0, 0},
  };
  for (const TCase& Case : Cases) {
    int Major = -1, Minor = -1, Release = -1, Build = -1;
    EXPECT_EQ(GetModuleVersion(Case.Module, Major, Minor, Release, Build), Case.Result) << Case.Name;
    EXPECT_EQ(std::vector<int>({Major, Minor, Release, Build}),
              std::vector<int>({Case.Major, Case.Minor, Case.Release, Case.Build}))
        << Case.Name;
  }
  ::dlclose(Versioned);
  ::dlclose(Unversioned);
}
