// The version resource of npKorvane.dll, read back the way a browser reads it when it scans for plug-ins.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "KorvaneVersion.h"
#include "LoadedModule.h"
#include "scripting/utf_conversion.h"

using namespace moduletest;

namespace {

class VersionResourceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::wstring path = FB::utf8ToWide(testsys::nativePath(modulePath()));
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
        ASSERT_NE(size, 0u) << "no version resource, error " << GetLastError();
        block_.resize(size);
        ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block_.data()));
    }

    std::wstring text(const std::wstring& name) {
        void* value = nullptr;
        UINT length = 0;
        const std::wstring query = L"\\StringFileInfo\\040904b0\\" + name;
        if (!VerQueryValueW(block_.data(), query.c_str(), &value, &length) || value == nullptr) {
            return L"(missing)";
        }
        return static_cast<const wchar_t*>(value);
    }

    std::vector<char> block_;
};

TEST_F(VersionResourceTest, FixedPartDescribesADllOfVersion1100) {
    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block_.data(), L"\\", &value, &length));
    ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
    const auto& fixed = *static_cast<const VS_FIXEDFILEINFO*>(value);
    EXPECT_EQ(fixed.dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed.dwFileVersionMS, 0x00010001u);
    EXPECT_EQ(fixed.dwFileVersionLS, 0x00000000u);
    EXPECT_EQ(fixed.dwProductVersionMS, 0x00010001u);
    EXPECT_EQ(fixed.dwProductVersionLS, 0x00000000u);
    EXPECT_EQ(fixed.dwFileFlagsMask, 0x3Fu);
    EXPECT_EQ(fixed.dwFileFlags, 0u);
    EXPECT_EQ(fixed.dwFileOS, 0x4u);
    EXPECT_EQ(fixed.dwFileType, 0x2u);
    EXPECT_EQ(fixed.dwFileSubtype, 0u);

    ASSERT_TRUE(VerQueryValueW(block_.data(), L"\\VarFileInfo\\Translation", &value, &length));
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(static_cast<const WORD*>(value)[0], 0x0409);
    EXPECT_EQ(static_cast<const WORD*>(value)[1], 1200) << "the strings are UTF-16";
}

TEST_F(VersionResourceTest, StringTableCarriesTheIdentity) {
    EXPECT_EQ(text(L"CompanyName"), L"Brindlemoor");
    EXPECT_EQ(text(L"FileDescription"), L"Brindlemoor plugin para firma digital 1.1");
    EXPECT_EQ(text(L"FileVersion"), L"" KORVANE_VERSION);
    EXPECT_EQ(text(L"InternalName"), L"npKorvane.dll");
    EXPECT_EQ(text(L"OriginalFilename"), L"npKorvane.dll");
    EXPECT_EQ(text(L"ProductName"), L"Korvane");
    EXPECT_EQ(text(L"ProductVersion"), L"" KORVANE_VERSION);
    EXPECT_EQ(text(L"FileOpenName"), L"Korvane");
    EXPECT_EQ(text(L"MIMEType"), L"application/x-korvane");
}

}  // namespace
