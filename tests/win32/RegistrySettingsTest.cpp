// The registry store, against the real registry (the Wine prefix's in CI) under a key of
// its own that is removed afterwards.
#include "platform/SettingsStore.h"
#include "platform/win32/RegistrySettings.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <functional>

using namespace quillmark;
using namespace quillmark::platform;

namespace {

class RegistrySettings : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        path_ = "\\Software\\Keldane\\QuillmarkTest-" + std::to_string(GetCurrentProcessId()) + "-" + info->name();
        DeleteKey();
    }
    void TearDown() override {
        DeleteKey();
        // The parent stays when others use it; an empty test parent is removed.
        RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Keldane");
    }
    void DeleteKey() { RegDeleteTreeW(HKEY_CURRENT_USER, WidePath().c_str()); }
    std::wstring WidePath() const {
        std::wstring w(path_.begin() + 1, path_.end());
        return w;
    }
    // Stores a value as another program (or the registry editor) might have.
    void RawValue(const wchar_t* name, DWORD type, const void* data, DWORD size) {
        HKEY key;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, WidePath().c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
        RegCloseKey(key);
    }
    DWORD RawType(const wchar_t* name) {
        DWORD type = 0;
        RegGetValueW(HKEY_CURRENT_USER, WidePath().c_str(), name, RRF_RT_ANY | RRF_NOEXPAND, &type, nullptr, nullptr);
        return type;
    }

    std::string path_;
};

std::string ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const SettingsError& e) {
        return e.Message();
    }
    return "(no error)";
}

} // namespace

TEST_F(RegistrySettings, OpeningWithCreationMakesTheKeyAtOnce) {
    auto store = CreateUserSettingsStore();
    EXPECT_EQ(store->OpenKey(path_, false), nullptr);
    auto key = store->OpenKey(path_, true);
    ASSERT_NE(key, nullptr);
    HKEY raw;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, WidePath().c_str(), 0, KEY_READ, &raw), ERROR_SUCCESS);
    RegCloseKey(raw);
    EXPECT_NE(store->OpenKey(path_, false), nullptr);
    EXPECT_FALSE(key->ValueExists("Top"));
    EXPECT_EQ(store->OpenKey("", true), nullptr);
}

TEST_F(RegistrySettings, ValuesRoundTripWithTheRegistrysOwnTypes) {
    auto store = CreateUserSettingsStore();
    {
        auto key = store->OpenKey(path_, true);
        ASSERT_NE(key, nullptr);
        key->WriteInteger("Top", 439);
        key->WriteInteger("Left", -20);
        key->WriteString("MailDir", "C:\\export\\");
        key->WriteString("AttsDir", "bilagor \xC3\xA5\xC3\xA4\xC3\xB6 \xE6\x97\xA5"); // "åäö 日"
        key->WriteString("RE_Subj", "a\\nb");
        key->WriteString("FromDateTime", "");
        key->WriteStringList("Stores", {"C:\\mail\\a.pst", "", "D:\\b.pst"});
    }
    EXPECT_EQ(RawType(L"Top"), static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(RawType(L"MailDir"), static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(RawType(L"Stores"), static_cast<DWORD>(REG_MULTI_SZ));
    // The ANSI text is stored as Unicode text, readable by any other program.
    wchar_t buf[64] = {};
    DWORD size = sizeof buf;
    ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, WidePath().c_str(), L"AttsDir", RRF_RT_REG_SZ, nullptr, buf, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(buf), L"bilagor \u00e5\u00e4\u00f6 \u65e5");

    auto key = store->OpenKey(path_, false);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->ReadInteger("Top"), 439);
    EXPECT_EQ(key->ReadInteger("Left"), -20);
    EXPECT_EQ(key->ReadString("MailDir"), "C:\\export\\");
    EXPECT_EQ(key->ReadString("AttsDir"), "bilagor \xC3\xA5\xC3\xA4\xC3\xB6 \xE6\x97\xA5");
    EXPECT_EQ(key->ReadString("RE_Subj"), "a\\nb");
    EXPECT_TRUE(key->ValueExists("FromDateTime"));
    EXPECT_EQ(key->ReadString("FromDateTime"), "");
    EXPECT_EQ(key->ReadStringList("Stores"), (std::vector<std::string>{"C:\\mail\\a.pst", "D:\\b.pst"}));
    EXPECT_TRUE(key->ValueExists("top")); // value names are not case-sensitive
}

TEST_F(RegistrySettings, ExpandableStringsAreReadUnexpandedAndStringsEndAtTheFirstNul) {
    const wchar_t expand[] = L"%USERPROFILE%\\export\\";
    RawValue(L"MailDir", REG_EXPAND_SZ, expand, sizeof expand);
    const wchar_t inner[] = L"atts\0junk";
    RawValue(L"AttsDir", REG_SZ, inner, sizeof inner);
    const wchar_t unterminated[] = {L'a', L'b'};
    RawValue(L"BodySize", REG_SZ, unterminated, sizeof unterminated);
    RawValue(L"ToDateTime", REG_SZ, L"", 0); // no data at all
    auto key = CreateUserSettingsStore()->OpenKey(path_, false);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->ReadString("MailDir"), "%USERPROFILE%\\export\\");
    EXPECT_EQ(key->ReadString("AttsDir"), "atts");
    EXPECT_EQ(key->ReadString("BodySize"), "ab");
    EXPECT_EQ(key->ReadString("ToDateTime"), "");
}

TEST_F(RegistrySettings, ReadsOfTheWrongTypeOrSizeFailWithTheValuesName) {
    const wchar_t text[] = L"439";
    RawValue(L"Top", REG_SZ, text, sizeof text);
    const unsigned long long wide = 439;
    RawValue(L"Left", REG_QWORD, &wide, sizeof wide);
    RawValue(L"Width", REG_DWORD, &wide, 8); // a DWORD that claims eight bytes
    const DWORD two = 2;
    RawValue(L"MailTemplate", REG_DWORD, &two, sizeof two);
    RawValue(L"AttsDir", REG_BINARY, "ab", 2);
    RawValue(L"Short", REG_DWORD, "\x07", 1);
    auto key = CreateUserSettingsStore()->OpenKey(path_, true);
    ASSERT_NE(key, nullptr);
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[&] { key->ReadInteger("Top"); }, "Invalid data type for 'Top'"},
        {[&] { key->ReadInteger("Left"); }, "Invalid data type for 'Left'"},
        {[&] { key->ReadInteger("Width"); }, "Failed to get data for 'Width'"},
        {[&] { key->ReadString("MailTemplate"); }, "Invalid data type for 'MailTemplate'"},
        {[&] { key->ReadString("AttsDir"); }, "Invalid data type for 'AttsDir'"},
        {[&] { key->ReadStringList("AttsDir"); }, "Invalid data type for 'AttsDir'"},
        {[&] { key->ReadString("Missing"); }, "Failed to get data for 'Missing'"},
    };
    for (const auto& [read, message] : cases) EXPECT_EQ(ErrorOf(read), message);
    EXPECT_EQ(key->ReadInteger("Short"), 7); // shorter data is zero-extended
}

TEST_F(RegistrySettings, ARefusedWriteNamesTheValue) {
    RegistrySettingsStore store(HKEY_CURRENT_USER);
    { ASSERT_NE(store.OpenKey(path_, true), nullptr); }
    auto key = store.OpenKeyReadOnly(path_);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(ErrorOf([&] { key->WriteInteger("Top", 1); }), "Failed to set data for 'Top'");
    EXPECT_EQ(ErrorOf([&] { key->WriteString("MailDir", "x"); }), "Failed to set data for 'MailDir'");
    EXPECT_FALSE(key->ValueExists("Top"));
}

TEST_F(RegistrySettings, TheUsersStoreIsTheRegistryNotAFile) {
    auto store = CreateUserSettingsStore();
    EXPECT_NE(dynamic_cast<RegistrySettingsStore*>(store.get()), nullptr);
}
