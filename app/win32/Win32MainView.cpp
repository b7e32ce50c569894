#include "app/win32/Win32MainView.h"

#include "app/win32/ControlIds.h"
#include "platform/CodePage.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>
#include <shobjidl.h>

#include <algorithm>
#include <vector>

namespace quillmark::win32 {

using namespace win32ids;

namespace {

std::wstring W(const std::string& utf8) {
    std::u16string s = platform::Utf16FromUtf8(utf8);
    return std::wstring(s.begin(), s.end());
}

std::string U(const std::wstring& wide) {
    return platform::Utf8FromUtf16(std::u16string(wide.begin(), wide.end()));
}

std::wstring WindowText(HWND h) {
    const int n = GetWindowTextLengthW(h);
    std::wstring text(static_cast<std::size_t>(n) + 1, L'\0');
    const int got = GetWindowTextW(h, text.data(), n + 1);
    text.resize(static_cast<std::size_t>(std::max(got, 0)));
    return text;
}

// Lines joined by CR LF, as the multi-line edit control holds them; a lone LF or CR becomes
// CR LF too.
std::string WithCrLf(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r') {
            out += "\r\n";
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else if (c == '\n') {
            out += "\r\n";
        } else {
            out += c;
        }
    }
    return out;
}

struct LabelDef {
    int Id;
    const wchar_t* Text;
    const wchar_t* Tip;
};

// The labels, in the order of the ids from IdLabelFirst.
const LabelDef Labels[] = {
    {IdLabelFirst + 0, L"1. Select folder to export", nullptr},
    {IdLabelFirst + 1, L"2. Select mail template file", L"This is template for the email output"},
    {IdLabelFirst + 2, L"3. Select export root directory (html file output)",
     L"An existing directory for output of mail files"},
    {IdLabelFirst + 3, L"Attachments dir", L"Root + dir = Attachment dir"},
    {IdLabelFirst + 4, L"From datetime:", L"Output only email >= datetime"},
    {IdLabelFirst + 5, L"To datetime:", L"Output only email <= datetime"},
    {IdLabelFirst + 6, L"Body size >bytes", L"Output only email with body size larger than"},
    {IdLabelFirst + 7, L"Subject match RegExprs (or, one per line):",
     L"Only export mail which match any of below regular expressions"},
};
enum { Ltv, Lmail, Lmaildir, Lattdir, Ldat1, Ldat2, Lsize, Label1 };
int LabelId(int which) { return IdLabelFirst + which; }

constexpr COLORREF Red = RGB(255, 0, 0);
constexpr COLORREF Navy = RGB(0, 0, 128);

TFWin32Window* gWindow = nullptr; // the one main window of the process

} // namespace

std::string ErrorBoxText(const std::string& message) {
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
    return message;
}

TFWin32Window::TFWin32Window(HINSTANCE instance, TFEnvironment env) : instance_(instance) {
    gWindow = this;
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_TREEVIEW_CLASSES | ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES |
                                             ICC_TAB_CLASSES};
    InitCommonControlsEx(&icc);

    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WndProc;
    wc.hInstance = instance_;
    wc.hIcon = LoadIconW(instance_, L"MAINICON");
    wc.hIconSm = static_cast<HICON>(LoadImageW(instance_, L"MAINICON", IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), 0));
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = MainWindowClass;
    RegisterClassExW(&wc);

    WNDCLASSEXW sc{};
    sc.cbSize = sizeof sc;
    sc.lpfnWndProc = SplashProc;
    sc.hInstance = instance_;
    sc.hCursor = LoadCursorW(nullptr, IDC_APPSTARTING);
    sc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    sc.lpszClassName = SplashWindowClass;
    RegisterClassExW(&sc);

    redBrush_ = CreateSolidBrush(Red);
    dpi_ = GetDpiForSystem();

    // The designed client size is the smallest; the window may grow from there.
    RECT r{0, 0, Dp(784), Dp(401)};
    // Not WS_CLIPCHILDREN: the group box paints no inside of its own, the window's
    // background shows through it.
    const DWORD style = WS_OVERLAPPEDWINDOW;
    const DWORD exStyle = WS_EX_CONTROLPARENT;
    AdjustWindowRectExForDpi(&r, style, TRUE, exStyle, dpi_);
    hwnd_ = CreateWindowExW(exStyle, MainWindowClass, L"Quillmark", style, 695, 439, r.right - r.left,
                            r.bottom - r.top, nullptr, nullptr, instance_, this);
    dpi_ = GetDpiForWindow(hwnd_);
    CreateMenuAndKeys();
    CreateControls();
    ApplyFonts();
    LayOut();
    form_ = std::make_unique<TF>(*this, std::move(env));
}

TFWin32Window::~TFWin32Window() {
    if (splash_) DestroyWindow(splash_);
    if (hwnd_) DestroyWindow(hwnd_);
    if (keys_) DestroyAcceleratorTable(keys_);
    for (HFONT f : {font_, boldFont_, linkFont_, titleFont_})
        if (f) DeleteObject(f);
    if (redBrush_) DeleteObject(redBrush_);
    gWindow = nullptr;
}

int TFWin32Window::Dp(int value) const { return MulDiv(value, static_cast<int>(dpi_), 96); }

void TFWin32Window::CreateMenuAndKeys() {
    HMENU bar = CreateMenu();
    HMENU file = CreatePopupMenu();
    AppendMenuW(file, MF_STRING, CmdOpenStore, L"&Open mail store...\tCtrl+O");
    AppendMenuW(file, MF_STRING, CmdCloseStore, L"&Close store\tCtrl+W");
    AppendMenuW(file, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(file, MF_STRING, CmdOpenArchive, L"Open &archive folder\tCtrl+E");
    AppendMenuW(file, MF_STRING, CmdOpenArchiveIndex, L"Open archive in the &browser\tCtrl+B");
    AppendMenuW(file, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(file, MF_STRING, CmdExit, L"E&xit\tAlt+F4");
    HMENU help = CreatePopupMenu();
    AppendMenuW(help, MF_STRING, CmdAbout, L"&About Quillmark\tF1");
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), L"&File");
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(help), L"&Help");
    SetMenu(hwnd_, bar);

    ACCEL keys[] = {
        {FVIRTKEY | FCONTROL, 'O', CmdOpenStore},  {FVIRTKEY | FCONTROL, 'W', CmdCloseStore},
        {FVIRTKEY | FCONTROL, 'E', CmdOpenArchive}, {FVIRTKEY | FCONTROL, 'B', CmdOpenArchiveIndex}, {FVIRTKEY | FCONTROL, 'Q', CmdExit},
        {FVIRTKEY, VK_F1, CmdAbout},
    };
    keys_ = CreateAcceleratorTableW(keys, static_cast<int>(std::size(keys)));
}

void TFWin32Window::CreateControls() {
    auto make = [this](DWORD exStyle, const wchar_t* cls, const wchar_t* text, DWORD style, int id) {
        return CreateWindowExW(exStyle, cls, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 10, 10, hwnd_,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
    };
    const DWORD edit = WS_TABSTOP | ES_AUTOHSCROLL;
    // Created in tab order: the tree, its check box, template, Browse, root, its Browse, attachments, its
    // Browse, Create, the group's fields, Export, Stop. What takes no focus comes after.
    make(WS_EX_CLIENTEDGE, WC_TREEVIEWW, L"",
         WS_TABSTOP | TVS_HASLINES | TVS_HASBUTTONS | TVS_LINESATROOT | TVS_SHOWSELALWAYS, IdTV);
    make(0, L"BUTTON", L"Include subfolders", WS_TABSTOP | BS_AUTOCHECKBOX, IdCBsubfolders);
    make(WS_EX_CLIENTEDGE, L"EDIT", L"", edit, IdEmail);
    make(0, L"BUTTON", L"&Browse...", WS_TABSTOP | BS_PUSHBUTTON, IdBmail);
    make(WS_EX_CLIENTEDGE, L"EDIT", L"", edit, IdEmaildir);
    make(0, L"BUTTON", L"...", WS_TABSTOP | BS_PUSHBUTTON, IdBroot);
    make(WS_EX_CLIENTEDGE, L"EDIT", L"atts", edit, IdEattdir);
    make(0, L"BUTTON", L"...", WS_TABSTOP | BS_PUSHBUTTON, IdBatts);
    HWND create = make(0, L"BUTTON", L"&Create", WS_TABSTOP | BS_PUSHBUTTON, IdBcreate);
    EnableWindow(create, FALSE);
    make(WS_EX_CLIENTEDGE, L"EDIT", L"", edit, IdEdat1);
    make(WS_EX_CLIENTEDGE, L"EDIT", L"", edit, IdEdat2);
    make(WS_EX_CLIENTEDGE, L"EDIT", L"", edit | ES_NUMBER, IdEsize);
    make(WS_EX_CLIENTEDGE, L"EDIT", L"",
         WS_TABSTOP | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_AUTOHSCROLL | ES_WANTRETURN,
         IdMre_subj);
    HWND exportButton = make(0, L"BUTTON", L"5. Export ...", WS_TABSTOP | BS_DEFPUSHBUTTON, IdBmailout);
    EnableWindow(exportButton, FALSE);
    HWND stop = make(0, L"BUTTON", L"Stop !", WS_TABSTOP | BS_PUSHBUTTON, IdBstop);
    EnableWindow(stop, FALSE);

    for (const auto& l : Labels) make(0, L"STATIC", l.Text, SS_LEFT | SS_NOPREFIX | SS_NOTIFY, l.Id);
    make(0, L"STATIC", L"1990", SS_LEFT | SS_NOTIFY, IdL1990);
    make(0, L"STATIC", L"200x", SS_LEFT | SS_NOTIFY, IdL2005);
    HWND pb = make(0, PROGRESS_CLASSW, L"", PBS_SMOOTH, IdPB);
    SendMessageW(pb, PBM_SETRANGE32, 0, 100);
    make(0, L"STATIC", L"", SS_LEFT | SS_NOPREFIX | SS_CENTERIMAGE | SS_ENDELLIPSIS | SS_SUNKEN, IdPStatus);
    // Last, so that it lies below the fields it frames.
    make(0, L"BUTTON", L"4. Restrict output with:", BS_GROUPBOX, IdGBrestrict);

    // Tool tips for the labels and the small buttons.
    HWND tips = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr, instance_, nullptr);
    auto tip = [&](int id, const wchar_t* text) {
        TOOLINFOW ti{};
        ti.cbSize = sizeof ti;
        ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        ti.hwnd = hwnd_;
        ti.uId = reinterpret_cast<UINT_PTR>(Control(id));
        ti.lpszText = const_cast<wchar_t*>(text);
        SendMessageW(tips, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
    };
    for (const auto& l : Labels)
        if (l.Tip) tip(l.Id, l.Tip);
    tip(IdL1990, L"Set date to 1990-01-01");
    tip(IdL2005, L"Set date to tomorrow");
    tip(IdEdat2, L"Output only email <= datetime");
    tip(IdBroot, L"Browse for the export root directory");
    tip(IdBatts, L"Browse for the attachments directory below the export root");
    tip(IdBcreate, L"Create the export root and its attachments directory");
}

void TFWin32Window::ApplyFonts() {
    for (HFONT f : {font_, boldFont_, linkFont_, titleFont_})
        if (f) DeleteObject(f);
    // The desktop's own message font at this monitor's DPI.
    NONCLIENTMETRICSW ncm{};
    ncm.cbSize = sizeof ncm;
    SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof ncm, &ncm, 0, dpi_);
    LOGFONTW lf = ncm.lfMessageFont;
    font_ = CreateFontIndirectW(&lf);
    LOGFONTW bold = lf;
    bold.lfWeight = FW_BOLD;
    boldFont_ = CreateFontIndirectW(&bold);
    LOGFONTW link = lf;
    link.lfUnderline = TRUE;
    linkFont_ = CreateFontIndirectW(&link);
    LOGFONTW title = lf;
    title.lfHeight = -MulDiv(20, static_cast<int>(dpi_), 72);
    title.lfWeight = FW_BOLD;
    titleFont_ = CreateFontIndirectW(&title);
    for (HWND child = GetWindow(hwnd_, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    SendMessageW(Control(IdL1990), WM_SETFONT, reinterpret_cast<WPARAM>(linkFont_), FALSE);
    SendMessageW(Control(IdL2005), WM_SETFONT, reinterpret_cast<WPARAM>(linkFont_), FALSE);
    if (splashMemo_) SendMessageW(splashMemo_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
}

void TFWin32Window::LayOut() {
    RECT client;
    GetClientRect(hwnd_, &client);
    const int w = client.right, h = client.bottom;
    // The tree grows in height and takes a quarter of any extra width; the fields and the
    // subject memo take the rest.
    const int dx = std::max(0, w - Dp(784)), dy = std::max(0, h - Dp(401));
    const int tx = dx / 4, fx = dx - tx;
    HDWP batch = BeginDeferWindowPos(32);
    auto put = [&](int id, int left, int top, int width, int height) {
        batch = DeferWindowPos(batch, Control(id), nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    };
    // A label as wide as its text.
    auto label = [&](int id, int left, int top) {
        HDC dc = GetDC(hwnd_);
        HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(Control(id), WM_GETFONT, 0, 0)));
        std::wstring text = WindowText(Control(id));
        SIZE size{};
        GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
        SelectObject(dc, old);
        ReleaseDC(hwnd_, dc);
        put(id, left, top, size.cx + Dp(4), std::max<int>(size.cy, Dp(16)) + Dp(2));
    };
    label(LabelId(Ltv), Dp(6), Dp(8));
    // The tree gives the room of one line to the check box under it.
    put(IdTV, Dp(6), Dp(30), Dp(203) + tx, Dp(307) + dy);
    put(IdCBsubfolders, Dp(6), Dp(341) + dy, Dp(203) + tx, Dp(22));
    const int x = Dp(218) + tx; // the right-hand column
    label(LabelId(Lmail), x, Dp(8));
    put(IdEmail, x, Dp(30), Dp(470) + fx, Dp(24));
    put(IdBmail, Dp(693) + dx, Dp(29), Dp(84), Dp(26));
    label(LabelId(Lmaildir), x, Dp(67));
    put(IdEmaildir, x, Dp(89), Dp(325) + fx, Dp(24));
    put(IdBroot, Dp(546) + dx, Dp(88), Dp(28), Dp(26));
    label(LabelId(Lattdir), Dp(580) + dx, Dp(67));
    put(IdEattdir, Dp(580) + dx, Dp(89), Dp(80), Dp(24));
    put(IdBatts, Dp(662) + dx, Dp(88), Dp(26), Dp(26));
    put(IdBcreate, Dp(693) + dx, Dp(88), Dp(84), Dp(26));
    put(IdGBrestrict, x, Dp(125), Dp(470) + fx, Dp(193) + dy);
    const int gy = Dp(125);
    label(LabelId(Ldat1), x + Dp(8), gy + Dp(24));
    label(IdL1990, x + Dp(118), gy + Dp(24));
    put(IdEdat1, x + Dp(8), gy + Dp(46), Dp(140), Dp(24));
    label(LabelId(Ldat2), x + Dp(156), gy + Dp(24));
    label(IdL2005, x + Dp(262), gy + Dp(24));
    put(IdEdat2, x + Dp(156), gy + Dp(46), Dp(140), Dp(24));
    label(LabelId(Lsize), x + Dp(304), gy + Dp(24));
    put(IdEsize, x + Dp(304), gy + Dp(46), Dp(120), Dp(24));
    label(LabelId(Label1), x + Dp(8), gy + Dp(80));
    put(IdMre_subj, x + Dp(8), gy + Dp(100), Dp(454) + fx, Dp(84) + dy);
    put(IdBmailout, x, Dp(327) + dy, Dp(470) + fx, Dp(36));
    put(IdBstop, Dp(693) + dx, Dp(327) + dy, Dp(84), Dp(36));
    put(IdPB, 0, Dp(369) + dy, w, Dp(12));
    put(IdPStatus, 0, Dp(381) + dy, w, std::max(h - Dp(381) - dy, Dp(20)));
    EndDeferWindowPos(batch);
    InvalidateRect(hwnd_, nullptr, TRUE);
}

HWND TFWin32Window::FieldControl(TFField field) const {
    switch (field) {
    case TFField::Email: return Control(IdEmail);
    case TFField::Emaildir: return Control(IdEmaildir);
    case TFField::Eattdir: return Control(IdEattdir);
    case TFField::Edat1: return Control(IdEdat1);
    case TFField::Edat2: return Control(IdEdat2);
    case TFField::Esize: return Control(IdEsize);
    case TFField::Mre_subj: return Control(IdMre_subj);
    }
    return nullptr;
}

void TFWin32Window::Guarded(const std::function<void()>& f) {
    if (form_) form_->Guarded(f);
}

LRESULT CALLBACK TFWin32Window::WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        auto* self = static_cast<TFWin32Window*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->hwnd_ = hwnd;
    }
    auto* self = reinterpret_cast<TFWin32Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self || !self->hwnd_) return DefWindowProcW(hwnd, msg, wp, lp);
    return self->Handle(msg, wp, lp);
}

LRESULT TFWin32Window::Handle(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_COMMAND:
        OnCommand(LOWORD(wp), HIWORD(wp));
        return 0;
    case WM_NOTIFY:
        OnNotify(reinterpret_cast<NMHDR*>(lp));
        return 0;
    case WM_SIZE:
        if (GetDlgItem(hwnd_, IdPStatus)) LayOut();
        return 0;
    case WM_GETMINMAXINFO: {
        RECT r{0, 0, Dp(784), Dp(401)};
        AdjustWindowRectExForDpi(&r, static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_STYLE)), TRUE,
                                 static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_EXSTYLE)), dpi_);
        auto* mm = reinterpret_cast<MINMAXINFO*>(lp);
        mm->ptMinTrackSize = {r.right - r.left, r.bottom - r.top};
        return 0;
    }
    case WM_DPICHANGED: {
        dpi_ = HIWORD(wp);
        ApplyFonts();
        const RECT* r = reinterpret_cast<const RECT*>(lp);
        SetWindowPos(hwnd_, nullptr, r->left, r->top, r->right - r->left, r->bottom - r->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        LayOut();
        return 0;
    }
    case WM_CTLCOLOREDIT: {
        HDC dc = reinterpret_cast<HDC>(wp);
        const int id = GetDlgCtrlID(reinterpret_cast<HWND>(lp));
        for (const auto& [field, invalid] : invalid_)
            if (invalid && FieldControl(field) && GetDlgCtrlID(FieldControl(field)) == id) SetTextColor(dc, Red);
        SetBkColor(dc, GetSysColor(COLOR_WINDOW));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
    }
    case WM_CTLCOLORSTATIC: {
        HDC dc = reinterpret_cast<HDC>(wp);
        const int id = GetDlgCtrlID(reinterpret_cast<HWND>(lp));
        if (id == IdPStatus && statusMode_ == 1) {
            SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
            SetBkColor(dc, Red);
            return reinterpret_cast<LRESULT>(redBrush_);
        }
        if (id == IdL1990 || id == IdL2005) SetTextColor(dc, Navy);
        else SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
        SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_SETCURSOR: {
        HWND over = reinterpret_cast<HWND>(wp);
        if (busyDepth_ > 0 && LOWORD(lp) == HTCLIENT && over != Control(IdBstop)) {
            // Busy, but Stop still answers: the arrow with the hourglass.
            SetCursor(LoadCursorW(nullptr, IDC_APPSTARTING));
            return TRUE;
        }
        if (over == Control(IdL1990) || over == Control(IdL2005)) {
            SetCursor(LoadCursorW(nullptr, IDC_HAND));
            return TRUE;
        }
        break;
    }
    case WM_CLOSE:
        if (closed_) break;
        if (!form_ || !form_->FormCloseQuery()) return 0;
        closed_ = true;
        form_->Close();
        if (splash_) ShowWindow(splash_, SW_HIDE);
        DestroyWindow(hwnd_);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return DefWindowProcW(hwnd_, msg, wp, lp);
}

void TFWin32Window::OnCommand(int id, int code) {
    if (!form_) return;
    TF& f = *form_;
    auto fieldOf = [](int control) -> std::optional<TFField> {
        switch (control) {
        case IdEmail: return TFField::Email;
        case IdEmaildir: return TFField::Emaildir;
        case IdEattdir: return TFField::Eattdir;
        case IdEdat1: return TFField::Edat1;
        case IdEdat2: return TFField::Edat2;
        case IdEsize: return TFField::Esize;
        case IdMre_subj: return TFField::Mre_subj;
        default: return std::nullopt;
        }
    };
    if (auto field = fieldOf(id)) {
        if (code == EN_CHANGE && !settingText_) Guarded([&] { f.FieldChanged(*field); });
        return;
    }
    if ((id == IdL1990 || id == IdL2005) && code != STN_CLICKED) return;
    switch (id) {
    case IDOK: // Enter: Export, when it can run
        if (IsWindowEnabled(Control(IdBmailout))) Guarded([&] { f.BmailoutClick(); });
        break;
    case IDCANCEL: // Escape: Stop, while a run goes on
        if (f.Exporting()) Guarded([&] { f.BstopClick(); });
        break;
    case IdBmail: Guarded([&] { f.BmailClick(); }); break;
    case IdBroot: Guarded([&] { f.BrowseRootClick(); }); break;
    case IdBatts: Guarded([&] { f.BrowseAttsClick(); }); break;
    case IdBcreate: Guarded([&] { f.CreateFoldersClick(); }); break;
    case IdBmailout: Guarded([&] { f.BmailoutClick(); }); break;
    case IdBstop: Guarded([&] { f.BstopClick(); }); break;
    case IdL1990: Guarded([&] { f.L1990Click(); }); break;
    case IdL2005: Guarded([&] { f.L2005Click(); }); break;
    case CmdOpenStore: OpenStoreCommand(); break;
    case CmdCloseStore: CloseStoreCommand(); break;
    case CmdOpenArchive: Guarded([&] { f.OpenArchiveFolderClick(); }); break;
    case CmdOpenArchiveIndex: Guarded([&] { f.OpenArchiveClick(); }); break;
    case CmdExit: PostMessageW(hwnd_, WM_CLOSE, 0, 0); break;
    case CmdAbout: Guarded([&] { f.AboutClick(); }); break;
    default:
        if (id >= CmdCloseStoreFirst && id < CmdCloseStoreFirst + 100) {
            const auto& stores = f.MailStores();
            const std::size_t i = static_cast<std::size_t>(id - CmdCloseStoreFirst);
            if (i < stores.size()) {
                const std::string path = stores[i];
                Guarded([&] { f.CloseMailStore(path); });
            }
        }
        break;
    }
}

void TFWin32Window::OnNotify(NMHDR* header) {
    if (header->idFrom != static_cast<UINT_PTR>(IdTV) || header->code != TVN_SELCHANGEDW || fillingTree_) return;
    const auto* change = reinterpret_cast<NMTREEVIEWW*>(header);
    const auto* node = reinterpret_cast<const outlook::FolderNode*>(change->itemNew.lParam);
    Guarded([&] { form_->TVChange(node); });
}

void TFWin32Window::OpenStoreCommand() {
    // This program reads Outlook itself; a data file reaches the tree through Outlook.
    MessageBoxW(hwnd_,
                L"Quillmark for Windows reads the mail of the running Outlook.\n\n"
                L"To export an Outlook data file (.pst), open it in Outlook (File > Open & Export > "
                L"Open Outlook Data File); its folders then appear in this tree after the next start.",
                L"Open mail store", MB_ICONINFORMATION | MB_OK);
}

void TFWin32Window::CloseStoreCommand() {
    const auto& stores = form_->MailStores();
    if (form_->Exporting() || stores.empty()) {
        MessageBeep(MB_OK);
        return;
    }
    if (stores.size() == 1) {
        const std::string path = stores.front();
        Guarded([&] { form_->CloseMailStore(path); });
        return;
    }
    // Several: a menu of them, at the pointer.
    HMENU choice = CreatePopupMenu();
    for (std::size_t i = 0; i < stores.size() && i < 100; ++i)
        AppendMenuW(choice, MF_STRING, CmdCloseStoreFirst + static_cast<UINT>(i), W(stores[i]).c_str());
    POINT at;
    GetCursorPos(&at);
    TrackPopupMenu(choice, TPM_LEFTALIGN | TPM_TOPALIGN, at.x, at.y, 0, hwnd_, nullptr);
    DestroyMenu(choice);
}

bool TFWin32Window::Translate(MSG& msg) {
    if (keys_ && TranslateAcceleratorW(hwnd_, keys_, &msg)) return true;
    return IsDialogMessageW(hwnd_, &msg) != FALSE;
}

int TFWin32Window::Run(int showCommand) {
    ShowWindow(hwnd_, showCommand);
    UpdateWindow(hwnd_);
    if (quitSeen_) return quitCode_;
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (!Translate(msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (quitSeen_) break;
    }
    return quitSeen_ ? quitCode_ : static_cast<int>(msg.wParam);
}

// ---------------------------------------------------------------- TFView

LRESULT CALLBACK TFWin32Window::SplashProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_PAINT && gWindow) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        RECT r;
        GetClientRect(hwnd, &r);
        // A band in the icon's blue with the product name; the lines go below it.
        RECT band{0, 0, r.right, gWindow->Dp(56)};
        HBRUSH blue = CreateSolidBrush(RGB(0x1f, 0x3a, 0x6e));
        FillRect(dc, &band, blue);
        DeleteObject(blue);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, RGB(255, 255, 255));
        HGDIOBJ old = SelectObject(dc, gWindow->titleFont_);
        RECT text = band;
        text.left += gWindow->Dp(16);
        DrawTextW(dc, L"Quillmark", -1, &text, DT_SINGLELINE | DT_VCENTER | DT_LEFT);
        SelectObject(dc, old);
        EndPaint(hwnd, &ps);
        return 0;
    }
    if (msg == WM_CTLCOLORSTATIC) {
        HDC dc = reinterpret_cast<HDC>(wp);
        SetTextColor(dc, RGB(0x1f, 0x2a, 0x4a));
        SetBkColor(dc, RGB(255, 255, 255));
        return reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

void TFWin32Window::ShowSplash() {
    if (!splash_) {
        const int w = Dp(320), h = Dp(240);
        RECT work;
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
        splash_ = CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_TOPMOST, SplashWindowClass, L"Quillmark",
                                  WS_POPUP | WS_BORDER, (work.left + work.right - w) / 2,
                                  (work.top + work.bottom - h) / 2, w, h, nullptr, nullptr, instance_, nullptr);
        splashMemo_ = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_READONLY, Dp(12),
                                      Dp(64), w - Dp(24), h - Dp(76), splash_,
                                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(1)), instance_, nullptr);
        SendMessageW(splashMemo_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    }
    SetWindowTextW(splashMemo_, L""); // the lines start as one empty line
    ShowWindow(splash_, SW_SHOWNOACTIVATE);
    UpdateWindow(splash_);
}

void TFWin32Window::AddSplashLine(const std::string& text) {
    if (!splashMemo_) return;
    std::wstring lines = WindowText(splashMemo_) + L"\r\n" + W(text);
    SetWindowTextW(splashMemo_, lines.c_str());
    SendMessageW(splashMemo_, EM_LINESCROLL, 0, 1000); // the newest line in view
    UpdateWindow(splash_);
}

void TFWin32Window::HideSplash() {
    if (splash_) ShowWindow(splash_, SW_HIDE);
}

void TFWin32Window::SetTitle(const std::string& title) { SetWindowTextW(hwnd_, W(title).c_str()); }

std::string TFWin32Window::FieldText(TFField field) { return U(WindowText(FieldControl(field))); }

void TFWin32Window::SetFieldText(TFField field, const std::string& text) {
    settingText_ = true;
    SetWindowTextW(FieldControl(field), W(field == TFField::Mre_subj ? WithCrLf(text) : text).c_str());
    settingText_ = false;
}

void TFWin32Window::SetFieldValid(TFField field, bool valid) {
    if (invalid_[field] == !valid) return;
    invalid_[field] = !valid;
    InvalidateRect(FieldControl(field), nullptr, TRUE);
}

void TFWin32Window::SetExportEnabled(bool enabled) { EnableWindow(Control(IdBmailout), enabled); }

void TFWin32Window::SetExportCaption(const std::string& caption) {
    SetWindowTextW(Control(IdBmailout), W(caption).c_str());
}

void TFWin32Window::SetStopEnabled(bool enabled) { EnableWindow(Control(IdBstop), enabled); }

void TFWin32Window::SetStatus(const std::string& text, int mode) {
    if (mode == 0 || mode == 1) statusMode_ = mode;
    HWND status = Control(IdPStatus);
    SetWindowTextW(status, W(text).c_str());
    // Shown at once, even while the run keeps the thread busy.
    InvalidateRect(status, nullptr, TRUE);
    UpdateWindow(status);
}

void TFWin32Window::SetProgressMax(int maximum) {
    SendMessageW(Control(IdPB), PBM_SETRANGE32, 0, std::max(0, maximum));
}

void TFWin32Window::SetProgress(int position) { SendMessageW(Control(IdPB), PBM_SETPOS, position, 0); }

void TFWin32Window::ProcessPendingEvents() {
    // Everything queued is handled, Stop among it; a quit seen here ends the main loop later.
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            quitSeen_ = true;
            quitCode_ = static_cast<int>(msg.wParam);
            break;
        }
        if (!Translate(msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

void TFWin32Window::SetBusyCursor(bool busy) {
    if (busy) ++busyDepth_;
    else if (busyDepth_ > 0) --busyDepth_;
    POINT at;
    GetCursorPos(&at);
    SetCursorPos(at.x, at.y); // the shape changes now, not at the next move
}

TFBounds TFWin32Window::Bounds() {
    // The restored position and size, also while the window is minimised or maximised.
    WINDOWPLACEMENT wp{};
    wp.length = sizeof wp;
    GetWindowPlacement(hwnd_, &wp);
    RECT r = wp.rcNormalPosition;
    if (!IsWindowVisible(hwnd_)) GetWindowRect(hwnd_, &r);
    return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

void TFWin32Window::MoveTo(int left, int top) {
    SetWindowPos(hwnd_, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TFWin32Window::SetSize(int width, int height) {
    // WM_GETMINMAXINFO keeps it no smaller than designed.
    SetWindowPos(hwnd_, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TFWin32Window::SetCreateFoldersEnabled(bool enabled) { EnableWindow(Control(IdBcreate), enabled); }

void TFWin32Window::OpenFolder(const std::string& path) {
    ShellExecuteW(hwnd_, L"open", W(path).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void TFWin32Window::ShowAbout(const std::string& title, const std::string& text) {
    MessageBoxW(hwnd_, W(text).c_str(), W(title).c_str(), MB_ICONINFORMATION | MB_OK);
}

void TFWin32Window::AddTreeChildren(void* parentItem, const outlook::FolderNode& node) {
    for (const auto& child : node.Children) {
        std::wstring caption = W(form_->NodeCaption(*child));
        TVINSERTSTRUCTW ins{};
        ins.hParent = static_cast<HTREEITEM>(parentItem);
        ins.hInsertAfter = TVI_LAST;
        ins.item.mask = TVIF_TEXT | TVIF_PARAM;
        ins.item.pszText = caption.data();
        ins.item.lParam = reinterpret_cast<LPARAM>(child.get());
        auto item = reinterpret_cast<HTREEITEM>(
            SendMessageW(Control(IdTV), TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&ins)));
        AddTreeChildren(item, *child);
    }
}

void TFWin32Window::ShowTree(const outlook::FolderTreeModel& tree) {
    HWND tv = Control(IdTV);
    fillingTree_ = true; // rebuilding is no selection by the user
    SendMessageW(tv, WM_SETREDRAW, FALSE, 0);
    TreeView_SelectItem(tv, nullptr);
    TreeView_DeleteAllItems(tv);
    for (const auto& top : tree.TopLevel()) {
        std::wstring caption = W(form_->NodeCaption(*top));
        TVINSERTSTRUCTW ins{};
        ins.hParent = TVI_ROOT;
        ins.hInsertAfter = TVI_LAST;
        ins.item.mask = TVIF_TEXT | TVIF_PARAM;
        ins.item.pszText = caption.data();
        ins.item.lParam = reinterpret_cast<LPARAM>(top.get());
        auto item =
            reinterpret_cast<HTREEITEM>(SendMessageW(tv, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&ins)));
        AddTreeChildren(item, *top);
        TreeView_Expand(tv, item, TVE_EXPAND); // each store's folders in view
    }
    TreeView_SelectItem(tv, nullptr);
    SendMessageW(tv, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(tv, nullptr, TRUE);
    fillingTree_ = false;
}

bool TFWin32Window::IncludeSubfolders() {
    return SendMessageW(Control(IdCBsubfolders), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TFWin32Window::SetIncludeSubfolders(bool include) {
    SendMessageW(Control(IdCBsubfolders), BM_SETCHECK, include ? BST_CHECKED : BST_UNCHECKED, 0);
}

const outlook::FolderNode* TFWin32Window::SelectedNode() {
    HWND tv = Control(IdTV);
    HTREEITEM item = TreeView_GetSelection(tv);
    if (!item) return nullptr;
    TVITEMW it{};
    it.mask = TVIF_PARAM;
    it.hItem = item;
    if (!TreeView_GetItem(tv, &it)) return nullptr;
    return reinterpret_cast<const outlook::FolderNode*>(it.lParam);
}

std::optional<std::string> TFWin32Window::AskOpenFile(const std::string& initialDir, const std::string& fileName,
                                                      const std::string& filter, const std::string& defaultExt) {
    // "Description (*.ext)|*.ext" -> "Description (*.ext)\0*.ext\0\0".
    std::wstring filters = W(filter);
    std::replace(filters.begin(), filters.end(), L'|', L'\0');
    filters.push_back(L'\0');
    filters.push_back(L'\0');
    std::wstring name = W(fileName);
    const auto slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos) name = name.substr(slash + 1);
    std::vector<wchar_t> buffer(32768, L'\0');
    std::copy(name.begin(), name.end(), buffer.begin());
    std::wstring dir = W(initialDir), ext = W(defaultExt);
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = hwnd_;
    ofn.lpstrFilter = filters.c_str();
    ofn.lpstrFile = buffer.data();
    ofn.nMaxFile = static_cast<DWORD>(buffer.size());
    ofn.lpstrInitialDir = dir.empty() ? nullptr : dir.c_str();
    ofn.lpstrDefExt = ext.c_str();
    ofn.Flags = OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_EXPLORER;
    if (!GetOpenFileNameW(&ofn)) return std::nullopt;
    return U(buffer.data());
}

std::optional<std::string> TFWin32Window::AskFolder(const std::string& initialDir) {
    IFileOpenDialog* dialog = nullptr;
    if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileOpenDialog,
                                reinterpret_cast<void**>(&dialog))))
        return std::nullopt;
    std::optional<std::string> result;
    FILEOPENDIALOGOPTIONS options = 0;
    dialog->GetOptions(&options);
    dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_NOCHANGEDIR);
    IShellItem* start = nullptr;
    if (!initialDir.empty() &&
        SUCCEEDED(SHCreateItemFromParsingName(W(initialDir).c_str(), nullptr, IID_IShellItem,
                                              reinterpret_cast<void**>(&start)))) {
        dialog->SetFolder(start);
        start->Release();
    }
    if (SUCCEEDED(dialog->Show(hwnd_))) {
        IShellItem* item = nullptr;
        if (SUCCEEDED(dialog->GetResult(&item))) {
            wchar_t* path = nullptr;
            if (SUCCEEDED(item->GetDisplayName(SIGDN_FILESYSPATH, &path))) {
                result = U(path);
                CoTaskMemFree(path);
            }
            item->Release();
        }
    }
    dialog->Release();
    return result;
}

void TFWin32Window::ShowError(const std::string& message) {
    // The box belongs to the window once it shows, else to the splash or the desktop.
    HWND owner = IsWindowVisible(hwnd_) ? hwnd_ : (splash_ && IsWindowVisible(splash_) ? splash_ : nullptr);
    const int busy = busyDepth_;
    busyDepth_ = 0; // the pointer over the box is an arrow
    MessageBoxW(owner, W(ErrorBoxText(message)).c_str(), L"Quillmark", MB_ICONERROR | MB_OK);
    busyDepth_ = busy;
}

void TFWin32Window::CloseWindow() { PostMessageW(hwnd_, WM_CLOSE, 0, 0); }

} // namespace quillmark::win32
