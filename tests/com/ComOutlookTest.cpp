// The COM backend against the fake automation server (FakeOutlookServer.cpp), registered
// for the current user under a class id of its own for the length of the test program. The
// backend is asked for that class id exactly as it asks for Outlook's.
#include "PageTree.h"
#include "SrcLib/uLib.h"
#include "TempDir.h"
#include "outlook/FolderTree.h"
#include "outlook/com/ComOutlook.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/Regional.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <functional>

using namespace quillmark;
using namespace quillmark::outlook;
using quillmark::test::TempDir;

namespace {

// Not Outlook's class id: a real Outlook on the machine is never touched by the tests.
const char* const FakeClassId = "{5A7B1F2E-9C4D-4E21-8B3A-0D6F033C0046}";
const wchar_t* const FakeClassKey = L"Software\\Classes\\CLSID\\{5A7B1F2E-9C4D-4E21-8B3A-0D6F033C0046}";

HMODULE gServer = nullptr;

// A function the server module exports (through the generic pointer type, as GetProcAddress
// gives every export alike).
template <class F>
F ServerFunction(const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(gServer, name)));
}

std::string ServerLog() {
    auto log = ServerFunction<const wchar_t* (*)()>("FakeOutlookLog");
    std::wstring w = log ? log() : L"";
    return platform::Utf8FromUtf16(std::u16string(w.begin(), w.end()));
}
void ClearServerLog() {
    if (auto clear = ServerFunction<void (*)()>("FakeOutlookClearLog")) clear();
}
long LiveServerObjects() {
    auto live = ServerFunction<long (*)()>("FakeOutlookLiveObjects");
    return live ? live() : -1;
}

class FakeServerRegistration : public ::testing::Environment {
public:
    void SetUp() override {
        std::u16string dll = platform::Utf16FromUtf8(QUILLMARK_FAKE_OUTLOOK_DLL);
        std::wstring path(dll.begin(), dll.end());
        for (auto& c : path)
            if (c == L'/') c = L'\\';
        // Per user, as Windows reads it; Wine's COM reads only the machine's classes (the
        // prefix is the test run's own), so there the class goes there as well.
        ASSERT_TRUE(Register(HKEY_CURRENT_USER, FakeClassKey, path));
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        CLSID clsid{};
        std::wstring id(FakeClassId, FakeClassId + 38);
        CLSIDFromString(id.c_str(), &clsid);
        IClassFactory* factory = nullptr;
        if (CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                             reinterpret_cast<void**>(&factory)) == REGDB_E_CLASSNOTREG) {
            ASSERT_TRUE(Register(HKEY_CLASSES_ROOT, FakeClassKey + 17, path)); // without "Software\Classes\"
            machineWide_ = true;
        }
        if (factory) factory->Release();
        // The same module COM loads, so that the test can read the server's log.
        gServer = LoadLibraryW(path.c_str());
        ASSERT_NE(gServer, nullptr);
    }
    void TearDown() override {
        CoUninitialize();
        RegDeleteTreeW(HKEY_CURRENT_USER, FakeClassKey);
        if (machineWide_) RegDeleteTreeW(HKEY_CLASSES_ROOT, FakeClassKey + 17);
    }

private:
    static bool Register(HKEY root, const wchar_t* classKey, const std::wstring& dll) {
        HKEY key;
        std::wstring sub = std::wstring(classKey) + L"\\InprocServer32";
        if (RegCreateKeyExW(root, sub.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
            return false;
        const wchar_t model[] = L"Apartment";
        bool ok = RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(dll.c_str()),
                                 static_cast<DWORD>((dll.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS &&
                  RegSetValueExW(key, L"ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE*>(model), sizeof model) ==
                      ERROR_SUCCESS;
        RegCloseKey(key);
        return ok;
    }
    bool machineWide_ = false;
};

const auto* const gRegistration = ::testing::AddGlobalTestEnvironment(new FakeServerRegistration);

std::string ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const EStoreError& e) {
        return e.Message();
    }
    return "(no error)";
}

} // namespace

TEST(ComOutlook, LogonScanAndLogoffReleaseEverythingWithoutQuitting) {
    ClearServerLog();
    {
        auto app = com::ConnectOutlook(FakeClassId);
        auto ns = app->GetNamespace("MAPI");
        ns->Logon();
        FolderTreeModel tree;
        tree.ScanFolders(*ns->Folders(), nullptr);
        ASSERT_EQ(tree.TopLevel().size(), 2u); // Public Folders and its subtree are left out
        EXPECT_EQ(tree.TopLevel()[0]->Text, "Personal Folders");
        EXPECT_EQ(tree.TopLevel()[1]->Text, "Mailbox - Ann");
        const auto& personal = tree.TopLevel()[0]->Children;
        ASSERT_EQ(personal.size(), 3u); // Inbox, Pub and Shared; Republic goes with its subfolder
        EXPECT_EQ(personal[0]->Text, "Inbox");
        EXPECT_EQ(personal[1]->Text, "Pub");
        EXPECT_EQ(personal[2]->Text, "Shared");
        EXPECT_EQ(personal[0]->Folder.EntryID, u"E-P-INBOX");
        EXPECT_EQ(personal[0]->Folder.StoreID, u"S-PST");
        ns->Logoff();
        app->Disconnect();
    }
    // No member of the scan is asked of a folder that is skipped, Quit is never called, and
    // every object the server handed out has been released.
    const std::string log = ServerLog();
    EXPECT_NE(log.find("GetNamespace(MAPI) Logon(missing,missing,false,false)"), std::string::npos) << log;
    EXPECT_EQ(log.find("Folders(Public Folders)"), std::string::npos) << log;
    EXPECT_EQ(log.find("Folders(Republic)"), std::string::npos) << log;
    EXPECT_EQ(log.find("Quit"), std::string::npos) << log;
    EXPECT_EQ(log.substr(log.size() - 6), "Logoff") << log;
    EXPECT_EQ(LiveServerObjects(), 0);
}

TEST(ComOutlook, MailItemsAttachmentsAndOtherItems) {
    auto app = com::ConnectOutlook(FakeClassId);
    auto ns = app->GetNamespace("MAPI");
    ns->Logon();
    auto inbox = ns->GetFolderFromID(u"E-P-INBOX", u"S-PST");
    EXPECT_EQ(inbox->Name(), u"Inbox");
    auto items = inbox->Items();
    ASSERT_EQ(items->Count(), 3);
    EXPECT_EQ(items->Item(2)->QueryMailItem(), nullptr); // the appointment is passed over

    auto mail = items->Item(1)->QueryMailItem();
    ASSERT_NE(mail, nullptr);
    EXPECT_EQ(mail->GetText(dispid::Subject), u"Quarterly report");
    EXPECT_EQ(mail->GetText(dispid::Body), u"Hello Ann,\r\nthe report is attached.\r\n");
    EXPECT_EQ(mail->GetText(dispid::SenderName), u"Bo Berg");
    EXPECT_EQ(mail->GetDate(dispid::ReceivedTime), 38412.5);
    EXPECT_EQ(mail->GetInt(dispid::Size), 4242);
    EXPECT_EQ(mail->GetBool(dispid::UnRead), VariantTrue);
    // Properties this server does not have read as empty, as the interface promises.
    EXPECT_EQ(mail->GetText(dispid::BillingInformation), u"");
    EXPECT_EQ(mail->GetDate(dispid::ExpiryTime), 0.0);
    EXPECT_EQ(mail->GetBool(dispid::NoAging), VariantFalse);

    auto second = items->Item(3)->QueryMailItem();
    ASSERT_NE(second, nullptr);
    // Every character arrives: the en dash and the Chinese characters alike.
    EXPECT_EQ(platform::Utf8FromUtf16(second->GetText(dispid::Subject)), "M\xC3\xB6te \xE2\x80\x93 \xE4\xBC\x9A\xE8\xAE\xAE");
    EXPECT_GT(second->GetDate(dispid::ReceivedTime), AbsentDateThreshold);

    TempDir dir;
    auto atts = mail->Attachments();
    ASSERT_EQ(atts->Count(), 2);
    auto first = atts->Item(1);
    EXPECT_EQ(first->FileName(), u"report.txt");
    std::string target = dir.Dir() + "report.txt";
    first->SaveAsFile(target);
    EXPECT_EQ(platform::ReadWholeFile(target), "figures\n");
    EXPECT_EQ(atts->Item(2)->FileName(), u"\u4f1a\u8bae.txt");
    ns->Logoff();
}

TEST(ComOutlook, FailuresCarryTheServersOwnMessage) {
    auto app = com::ConnectOutlook(FakeClassId);
    EXPECT_EQ(ErrorOf([&] { app->GetNamespace("NOTMAPI"); }),
              "Could not complete the operation. One or more parameter values are not valid.");
    auto ns = app->GetNamespace("MAPI");
    ns->Logon();
    EXPECT_EQ(ErrorOf([&] { ns->GetFolderFromID(u"E-GONE", u"S-PST"); }),
              "The operation failed. An object could not be found.");
    auto sent = ns->GetFolderFromID(u"E-M-SENT", u"S-EXCH");
    auto broken = sent->Items()->Item(1)->QueryMailItem();
    ASSERT_NE(broken, nullptr);
    EXPECT_EQ(ErrorOf([&] { broken->GetText(dispid::Body); }), "The message store is not available. (fake)");
    EXPECT_EQ(ErrorOf([&] { sent->Items()->Item(5); }), "Array index out of bounds.");
    TempDir dir;
    auto mail = ns->GetFolderFromID(u"E-P-INBOX", u"S-PST")->Items()->Item(1)->QueryMailItem();
    EXPECT_EQ(ErrorOf([&] { mail->Attachments()->Item(1)->SaveAsFile(dir.Dir() + "no\\such\\dir\\x.txt"); }),
              "Cannot save the attachment. Path does not exist.");
    ns->Logoff();
}

TEST(ComOutlook, TheRunningOutlookIsUsedBeforeANewOneIsStarted) {
    CLSID clsid{};
    std::wstring id(FakeClassId, FakeClassId + 38);
    ASSERT_EQ(CLSIDFromString(id.c_str(), &clsid), S_OK);
    IUnknown* running = nullptr;
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&running)),
              S_OK);
    DWORD cookie = 0;
    ASSERT_EQ(RegisterActiveObject(running, clsid, ACTIVEOBJECT_STRONG, &cookie), S_OK);
    ClearServerLog();
    {
        auto app = com::ConnectOutlook(FakeClassId);
        app->GetNamespace("MAPI");
        app->Disconnect();
    }
    EXPECT_EQ(ServerLog(), "GetNamespace(MAPI)"); // no new instance was made
    RevokeActiveObject(cookie, nullptr);
    running->Release();
    ClearServerLog();
    { com::ConnectOutlook(FakeClassId)->Disconnect(); }
    EXPECT_EQ(ServerLog(), "CreateInstance"); // with none running, a new one
}

TEST(ComOutlook, AClassThatIsNotThereSaysSo) {
    std::string message = ErrorOf([] { com::ConnectOutlook("{00000000-1111-2222-3333-444444444444}"); });
    EXPECT_NE(message, "(no error)");
    EXPECT_FALSE(message.empty());
    EXPECT_NE(ErrorOf([] { com::ConnectOutlook("not a class id"); }), "(no error)");
}

// ---------------------------------------------------------------- end to end

#ifdef QUILLMARK_EXPORT_EXE
namespace {

struct ProgramResult {
    DWORD ExitCode = 0xFFFFFFFF;
    std::string Output; // standard output and error together
};

ProgramResult RunExport(const std::wstring& arguments, const TempDir& dir) {
    ProgramResult result;
    std::u16string exe16 = platform::Utf16FromUtf8(QUILLMARK_EXPORT_EXE);
    std::wstring exe(exe16.begin(), exe16.end());
    std::wstring command = L"\"" + exe + L"\" --store outlook:" + std::wstring(FakeClassId, FakeClassId + 38) + L" " +
                           arguments;
    std::u16string out16 = platform::Utf16FromUtf8(dir.File("program-output.txt"));
    std::wstring outPath(out16.begin(), out16.end());
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileW(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    if (out == INVALID_HANDLE_VALUE) return result;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = out;
    si.hStdError = out;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi{};
    if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        WaitForSingleObject(pi.hProcess, 120000);
        GetExitCodeProcess(pi.hProcess, &result.ExitCode);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
    CloseHandle(out);
    result.Output = platform::ReadWholeFile(dir.File("program-output.txt"));
    return result;
}

std::vector<std::string> Names(const std::string& dir) {
    auto names = platform::ListDirectory(dir);
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TEST(ComOutlookExport, TheCommandLineProgramListsTheTreeWithoutPublicFolders) {
    TempDir dir;
    ProgramResult r = RunExport(L"--list", dir);
    ASSERT_EQ(r.ExitCode, 0u) << r.Output;
    EXPECT_NE(r.Output.find("Personal Folders"), std::string::npos) << r.Output;
    EXPECT_NE(r.Output.find("Inbox"), std::string::npos) << r.Output;
    EXPECT_NE(r.Output.find("Mailbox - Ann"), std::string::npos) << r.Output;
    EXPECT_EQ(r.Output.find("Public Folders"), std::string::npos) << r.Output;
    EXPECT_EQ(r.Output.find("Republic"), std::string::npos) << r.Output;
}

TEST(ComOutlookExport, TheCommandLineProgramExportsAFolderThroughCom) {
    TempDir dir;
    const std::string root = dir.Dir() + "export";
    std::u16string root16 = platform::Utf16FromUtf8(root);
    ProgramResult r =
        RunExport(L"--folder \"Personal Folders/Inbox\" --out \"" + std::wstring(root16.begin(), root16.end()) + L"\"", dir);
    ASSERT_EQ(r.ExitCode, 0u) << r.Output;

    // Two mails, one page each, in the folder of their year; the appointment is passed over.
    auto pages = Names(root + "\\2005");
    std::vector<std::string> htm;
    for (const auto& n : pages)
        if (n.size() > 4 && n.substr(n.size() - 4) == ".htm") htm.push_back(n);
    ASSERT_EQ(htm.size(), 2u) << r.Output;
    EXPECT_EQ(htm[0], "m200503011200_Quarterly_report.htm");
    EXPECT_EQ(htm[1].rfind("m200503021800_", 0), 0u) << htm[1]; // no received time: the creation time
    const std::string page = platform::ReadWholeFile(root + "\\2005\\" + htm[0]);
    EXPECT_NE(page.find("Quarterly report"), std::string::npos);
    EXPECT_NE(page.find("the report is attached."), std::string::npos);
    EXPECT_NE(page.find("Bo Berg"), std::string::npos);
    EXPECT_NE(page.find("report.txt"), std::string::npos);
    EXPECT_NE(page.find("Quillmark"), std::string::npos); // the footer names the product

    // Attachments saved once into the shared directory, by the server's SaveAsFile.
    EXPECT_EQ(platform::ReadWholeFile(root + "\\atts\\report.txt"), "figures\n");
    EXPECT_EQ(Names(root + "\\atts").size(), 2u);

    // The page carries the mail's time (local) as its last-write time.
    EXPECT_NEAR(platform::UtcToLocal(FileWriteTime(root + "\\2005\\" + htm[0])), 38412.5, 1.0 / 86400.0);
}

TEST(ComOutlookExport, AFailingCallEndsTheRunWithTheServersMessage) {
    TempDir dir;
    std::u16string root16 = platform::Utf16FromUtf8(dir.Dir() + "export");
    ProgramResult r = RunExport(
        L"--folder \"Mailbox - Ann/Sent Items\" --out \"" + std::wstring(root16.begin(), root16.end()) + L"\"", dir);
    EXPECT_NE(r.ExitCode, 0u) << r.Output;
    EXPECT_NE(r.Output.find("The message store is not available. (fake)"), std::string::npos) << r.Output;
}

// The other half of SharedInboxTest.cpp: the mails that the mailbox backend reads from
// tests/data/com/shared-inbox.mbox, served by the fake server as "Personal Folders/Shared",
// give the same golden pages through COM and the command-line program as through the
// mailbox backend. What may differ per run or per store is masked (see PageTree.h).
TEST(ComOutlookExport, TheSharedFolderGivesTheMailboxBackendsPages) {
    // The golden pages hold times and names as English regional settings write them:
    // elsewhere the program writes other (equally right) pages.
    if (!quillmark::test::SameRegional(platform::ReadRegionalFromLocale(), quillmark::test::GoldenRegional()))
        GTEST_SKIP() << "the golden pages were made with English (United States) regional settings";

    TempDir dir;
    const std::string root = dir.Dir() + "export";
    std::u16string root16 = platform::Utf16FromUtf8(root);
    ProgramResult r = RunExport(
        L"--folder \"Personal Folders/Shared\" --out \"" + std::wstring(root16.begin(), root16.end()) + L"\"", dir);
    ASSERT_EQ(r.ExitCode, 0u) << r.Output;
    EXPECT_NE(r.Output.find("Exported:           5"), std::string::npos) << r.Output;
    EXPECT_NE(r.Output.find("Not mail:           1"), std::string::npos) << r.Output;

    const auto differences = quillmark::test::CompareTrees(
        platform::NativePath(root), std::filesystem::path(QUILLMARK_TEST_DATA) / "com" / "shared-pages");
    std::string report;
    for (const auto& d : differences) report += d + "\n";
    EXPECT_TRUE(differences.empty()) << report;
}
#endif
