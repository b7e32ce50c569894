#include "platform/SettingsStore.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace quillmark;
using namespace quillmark::platform;
using quillmark::testing::TempDir;

namespace {

const std::string Key = "\\Software\\Keldane\\Quillmark";

std::string Header() { return "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Keldane\\Quillmark]\n"; }

std::string ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const Exception& e) {
        return e.Message();
    }
    return "(no error)";
}

} // namespace

TEST(FileSettingsStore, CreatingAKeyMakesItsFileAtOnceAndOnlyWithCreation) {
    TempDir dir;
    FileSettingsStore store(dir.Path());
    EXPECT_EQ(store.OpenKey(Key, false), nullptr);
    EXPECT_FALSE(std::filesystem::exists(store.KeyFilePath(Key)));

    auto key = store.OpenKey(Key, true);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(store.KeyFilePath(Key), dir / "Keldane/Quillmark.reg");
    EXPECT_EQ(TempDir::Read(store.KeyFilePath(Key)),
              "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Keldane\\Quillmark]\n");
    EXPECT_NE(store.OpenKey(Key, false), nullptr);
    EXPECT_FALSE(key->ValueExists("Top"));
}

TEST(FileSettingsStore, ValuesSurviveAReopenWithTheirTypes) {
    TempDir dir;
    FileSettingsStore store(dir.Path());
    {
        auto key = store.OpenKey(Key, true);
        key->WriteInteger("Top", 439);
        key->WriteInteger("Left", -20); // a window left of the screen
        key->WriteString("MailDir", "C:\\export\\\"quoted\"");
        key->WriteString("AttsDir", "bilagor \xC3\xA5\xC3\xA4\xC3\xB6 \xE6\x97\xA5"); // "åäö 日"
        key->WriteString("RE_Subj", "a\r\nb");            // a raw line break must not break the file
        key->WriteString("Empty", "");
        key->WriteString("Odd", "x=hex:\\"); // ends in "\", which continues only hex lists
        key->WriteStringList("MailStores", {"/home/ann/mail/Inbox", "/srv/archive.pst"});
    }
    auto key = store.OpenKey(Key, false);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->ReadInteger("Top"), 439);
    EXPECT_EQ(key->ReadInteger("Left"), -20);
    EXPECT_EQ(key->ReadString("MailDir"), "C:\\export\\\"quoted\"");
    EXPECT_EQ(key->ReadString("AttsDir"), "bilagor \xC3\xA5\xC3\xA4\xC3\xB6 \xE6\x97\xA5");
    EXPECT_EQ(key->ReadString("RE_Subj"), "a\r\nb");
    EXPECT_TRUE(key->ValueExists("Empty"));
    EXPECT_EQ(key->ReadString("Empty"), "");
    EXPECT_EQ(key->ReadString("Odd"), "x=hex:\\");
    EXPECT_EQ(key->ReadStringList("MailStores"), (std::vector<std::string>{"/home/ann/mail/Inbox", "/srv/archive.pst"}));
    // Value names compare like the registry's, without regard to case.
    EXPECT_EQ(key->ReadInteger("top"), 439);

    const std::string text = TempDir::Read(store.KeyFilePath(Key));
    EXPECT_NE(text.find("\"Top\"=dword:000001b7\n"), std::string::npos);
    EXPECT_NE(text.find("\"Left\"=dword:ffffffec\n"), std::string::npos);
    EXPECT_NE(text.find("\"AttsDir\"=\"bilagor \xC3\xA5\xC3\xA4\xC3\xB6 \xE6\x97\xA5\"\n"), std::string::npos); // UTF-8 on disk
    EXPECT_NE(text.find("\"RE_Subj\"=hex(1):61,00,0d,00,0a,00,62,00,00,00\n"), std::string::npos);
}

TEST(FileSettingsStore, ReadsGiveTheRegistrysErrors) {
    TempDir dir;
    FileSettingsStore store(dir.Path());
    TempDir::Write(store.KeyFilePath(Key), Header() +
                                               "\"Top\"=\"439\"\n"
                                               "\"Left\"=hex(4):01,02,03,04,05\n"
                                               "\"Short\"=hex(4):b7,01\n"
                                               "\"Width\"=hex(b):00,00,00,00,00,00,00,00\n"
                                               "\"MailDir\"=dword:00000001\n"
                                               "\"Expand\"=hex(2):25,00,48,00,4f,00,4d,00,45,00,25,00,00,00\n"
                                               "\"Nul\"=hex(1):61,00,00,00,62,00,00,00\n"
                                               "\"List\"=\"one\"\n");
    auto key = store.OpenKey(Key, false);
    ASSERT_NE(key, nullptr);
    struct Case {
        const char* What;
        std::function<void()> Read;
        const char* Message;
    } cases[] = {
        {"string read as integer", [&] { key->ReadInteger("Top"); }, "Invalid data type for 'Top'"},
        {"integer data over four bytes", [&] { key->ReadInteger("Left"); }, "Failed to get data for 'Left'"},
        {"64-bit integer", [&] { key->ReadInteger("Width"); }, "Invalid data type for 'Width'"},
        {"integer read as string", [&] { key->ReadString("MailDir"); }, "Invalid data type for 'MailDir'"},
        {"string read as list", [&] { key->ReadStringList("List"); }, "Invalid data type for 'List'"},
        {"absent value", [&] { key->ReadString("Nothing"); }, "Failed to get data for 'Nothing'"},
    };
    for (const auto& c : cases) EXPECT_EQ(ErrorOf(c.Read), c.Message) << c.What;
    EXPECT_EQ(key->ReadInteger("Short"), 0x1b7);         // shorter data is zero-extended
    EXPECT_EQ(key->ReadString("Expand"), "%HOME%");      // accepted, not expanded
    EXPECT_EQ(key->ReadString("Nul"), "a");              // the text ends at the first NUL
}

TEST(FileSettingsStore, AFileThatDoesNotParseIsReportedByNameAndLeftAlone) {
    TempDir dir;
    FileSettingsStore store(dir.Path());
    const std::string file = store.KeyFilePath(Key);
    const struct {
        const char* Text;
        const char* Reason;
    } cases[] = {
        {"garbage\n", "(header missing) on line 1"},
        {"Windows Registry Editor Version 5.00\n\"Top\"=dword:1\n", "value outside of a key on line 2"},
        {"Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\Software\\Keldane\\Quillmark]\n\"Top\"=dword:123456789\n",
         "bad hexadecimal number on line 3"},
        {"Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\Software\\Keldane\\Quillmark]\n\"Top=dword:1\n",
         "on line 3"},
        {"Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\Software\\Keldane\\Quillmark]\n\"Top\"=word:1\n",
         "unknown value data on line 3"},
        {"", "(header missing) on line 1"},
    };
    for (const auto& c : cases) {
        TempDir::Write(file, c.Text);
        std::string message = ErrorOf([&] { store.OpenKey(Key, true); });
        EXPECT_NE(message.find(file), std::string::npos) << message;
        EXPECT_NE(message.find(c.Reason), std::string::npos) << message;
        EXPECT_EQ(TempDir::Read(file), c.Text) << "the file must not be rewritten";
    }
}

TEST(FileSettingsStore, ReadsWhatTheRegistryEditorWrites) {
    TempDir dir;
    FileSettingsStore store(dir.Path());
    // UTF-16LE with its byte-order mark, CR LF line ends, a wrapped hex list, a comment, an
    // unrelated key that must survive our writes.
    std::string utf8 = "Windows Registry Editor Version 5.00\r\n\r\n"
                       "[HKEY_CURRENT_USER\\Software\\Other]\r\n\"X\"=\"y\"\r\n\r\n"
                       "; remembered inputs\r\n"
                       "[HKEY_CURRENT_USER\\Software\\Keldane\\Quillmark]\r\n"
                       "\"MailTemplate\"=hex(2):43,00,3a,00,5c,00,\\\r\n  74,00,00,00\r\n"
                       "@=\"default\"\r\n";
    std::string utf16 = "\xFF\xFE";
    for (char c : utf8) {
        utf16 += c;
        utf16 += '\0';
    }
    TempDir::Write(store.KeyFilePath(Key), utf16);
    auto key = store.OpenKey(Key, true);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->ReadString("MailTemplate"), "C:\\t");
    EXPECT_EQ(key->ReadString(""), "default");
    key->WriteInteger("Top", 1);
    auto sections = ParseSettingsFile(TempDir::Read(store.KeyFilePath(Key)), "x");
    ASSERT_EQ(sections.size(), 2u);
    EXPECT_EQ(sections[0].KeyPath, "HKEY_CURRENT_USER\\Software\\Other");
    EXPECT_EQ(sections[1].Values.size(), 3u);
}

TEST(FileSettingsStore, LongBinaryDataWrapsAndReadsBack) {
    std::vector<SettingsSection> sections{{"HKEY_CURRENT_USER\\Software\\K", {}}};
    SettingsValue v{"Blob", SettingsValueType::Binary, {}};
    for (int i = 0; i < 300; ++i) v.Data.push_back(static_cast<std::uint8_t>(i));
    sections[0].Values.push_back(v);
    std::string text = FormatSettingsFile(sections);
    for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        EXPECT_LE(end - start, 80u);
    auto back = ParseSettingsFile(text, "blob.reg");
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].Values[0].Data, v.Data);
}

TEST(FileSettingsStore, KeysOfDifferentBaseNamesAreSeparateFiles) {
    TempDir dir;
    FileSettingsStore store(dir.Path());
    store.OpenKey("\\Software\\Keldane\\Quillmark", true)->WriteString("MailDir", "a");
    store.OpenKey("\\Software\\Keldane\\qm2", true)->WriteString("MailDir", "b");
    EXPECT_EQ(store.OpenKey("\\Software\\Keldane\\Quillmark", false)->ReadString("MailDir"), "a");
    EXPECT_EQ(store.OpenKey("\\Software\\Keldane\\qm2", false)->ReadString("MailDir"), "b");
    // A key name cannot lead out of the settings directory.
    EXPECT_EQ(store.KeyFilePath("Software\\..\\x/y").rfind(dir.Path(), 0), 0u);
    EXPECT_EQ(store.KeyFilePath("Software\\..\\x/y").find("/../"), std::string::npos);
}

TEST(FileSettingsStore, ARefusedWriteNamesTheValueAndKeepsTheKeyAsItWas) {
    TempDir dir;
    FileSettingsStore store(dir.Path());
    auto key = store.OpenKey(Key, true);
    key->WriteInteger("Top", 5);
    // The key's directory gives way to a plain file: no write can succeed any more, even
    // for a privileged user.
    std::filesystem::remove_all(dir / "Keldane");
    TempDir::Write(dir / "Keldane", "not a directory");
    EXPECT_EQ(ErrorOf([&] { key->WriteInteger("Left", 7); }), "Failed to set data for 'Left'");
    EXPECT_FALSE(key->ValueExists("Left"));
    EXPECT_EQ(key->ReadInteger("Top"), 5);
    EXPECT_EQ(store.OpenKey(Key, true), nullptr); // and the key cannot be made there
}
