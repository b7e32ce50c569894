#include "app/Settings.h"

#include "SrcLib/uLib.h"
#include "app/QuillmarkMain.h"

namespace quillmark {

namespace {

struct TextValue {
    const char* Name;
    TFField Field;
};

// In the order they are read and written.
constexpr TextValue TextValues[] = {
    {"MailTemplate", TFField::Email}, {"MailDir", TFField::Emaildir},   {"AttsDir", TFField::Eattdir},
    {"FromDateTime", TFField::Edat1}, {"ToDateTime", TFField::Edat2}, {"BodySize", TFField::Esize},
};

} // namespace

void LoadSettings(TF& form) {
    if (!form.Environment().Settings) return;
    auto key = form.Environment().Settings->OpenKey(form.SettingsKeyPath(), true);
    if (!key) return;
    TFView& view = form.View();
    if (key->ValueExists("Top")) {
        int top = key->ReadInteger("Top");
        view.MoveTo(view.Bounds().Left, top);
    }
    if (key->ValueExists("Left")) {
        int left = key->ReadInteger("Left");
        view.MoveTo(left, view.Bounds().Top);
    }
    // The window can be resized; its size comes back as it was left.
    if (key->ValueExists("Width") && key->ValueExists("Height"))
        view.SetSize(key->ReadInteger("Width"), key->ReadInteger("Height"));
    for (const auto& v : TextValues)
        if (key->ValueExists(v.Name)) form.SetText(v.Field, key->ReadString(v.Name));
    if (key->ValueExists("RE_Subj")) form.SetText(TFField::Mre_subj, UnescapeLineBreaks(key->ReadString("RE_Subj")));
    if (key->ValueExists(MailStoresValueName)) form.SetMailStores(key->ReadStringList(MailStoresValueName));
    if (key->ValueExists(SubfoldersValueName)) view.SetIncludeSubfolders(key->ReadInteger(SubfoldersValueName) != 0);
}

void SaveSettings(TF& form) {
    if (!form.Environment().Settings) return;
    auto key = form.Environment().Settings->OpenKey(form.SettingsKeyPath(), true);
    if (!key) return;
    const TFBounds b = form.View().Bounds();
    key->WriteInteger("Top", b.Top);
    key->WriteInteger("Left", b.Left);
    key->WriteInteger("Width", b.Width);
    key->WriteInteger("Height", b.Height);
    for (const auto& v : TextValues) key->WriteString(v.Name, form.Text(v.Field));
    key->WriteString("RE_Subj", EscapeLineBreaks(form.Text(TFField::Mre_subj)));
    key->WriteStringList(MailStoresValueName, form.MailStores());
    key->WriteInteger(SubfoldersValueName, form.View().IncludeSubfolders() ? 1 : 0);
}

} // namespace quillmark
