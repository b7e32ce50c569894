// The template expander. A template is 8-bit text in which tags stand, each written as "<#",
// a name, optional parameters and ">"; the expander copies the text through and replaces each
// tag by what ResolveTag (and so the handler) answers for it. It knows nothing of mail.
#pragma once

#include <array>
#include <functional>
#include <istream>
#include <string>
#include <vector>

namespace quillmark {

using TStrings = std::vector<std::string>;

enum class TTag { tgCustom = 0, tgLink, tgImage, tgTable, tgImageMap, tgObject, tgEmbed };

// The reserved tag names, indexed by the value of TTag; index 0 stands for any other name.
extern const std::array<const char*, 7> ReservedTagNames;

// The kind of a tag name: the reserved name it equals with ASCII letters compared without
// regard to case, else tgCustom.
TTag TagKindOf(const std::string& tagName);

class TPageProducer;
class TCopyParser;

// sender, kind, the tag name as written, the parameters (valid only during the call) and the
// replacement (empty on entry; what it holds on return replaces the tag).
using THTMLTagEvent = std::function<void(TPageProducer& sender, TTag tag, const std::string& tagString,
                                         TStrings& tagParams, std::string& replaceText)>;

class TCustomContentProducer {
public:
    virtual ~TCustomContentProducer();
    virtual std::string ExpandTemplate();
    virtual std::string ExpandStream(std::istream& input);
    virtual std::string ExpandString(const std::string& text);
};

class TCustomPageProducer : public TCustomContentProducer {
public:
    // The template file, an 8-bit ANSI path; empty when the template is HTMLDoc.
    const std::string& HTMLFile() const { return htmlFile_; }
    // A name that differs from the stored one only in ASCII letter case is ignored (the stored
    // spelling stays), unless the two spellings are two different files (a case-sensitive file
    // system); any other name clears HTMLDoc and is stored.
    void SetHTMLFile(const std::string& name);

    // The template as a list of lines; each line expands as if it ended in CR LF.
    const TStrings& HTMLDoc() const { return htmlDoc_; }
    // Copies the lines and clears HTMLFile.
    void SetHTMLDoc(const TStrings& lines);

    // Delete double quotes and apostrophes from every parameter field.
    bool StripParamQuotes = true;

    // Expands HTMLFile (read afresh on every call) or, when it is empty, HTMLDoc.
    // Throws EFOpenError "Cannot open file %s" when the file cannot be opened.
    std::string ExpandTemplate() override;
    // Throws EParserError for a line too long for the window, EConvertError for a bad "%XY"
    // escape in a tag's parameters, and whatever ResolveTag throws. No partial page is returned.
    std::string ExpandStream(std::istream& input) override;
    std::string ExpandString(const std::string& text) override;

    // The replacement for one tag. Here: the tag put back without its parameters.
    virtual std::string ResolveTag(const std::string& tagName, TStrings& params);

    // While a tag is resolved: the 1-based line of the template its "<#" stands on, so that a
    // handler can say where a tag it cannot serve was written. 0 outside an expansion.
    int TagLine() const;

private:
    std::string htmlFile_;
    TStrings htmlDoc_;
    // The tag being resolved: its parser, and the line feeds within its parameters. The line
    // is worked out only when asked for: counting lines for every tag would slow down every
    // page for the sake of a message that is rarely needed.
    const TCopyParser* tagParser_ = nullptr;
    int tagParamLineFeeds_ = 0;
};

class TPageProducer : public TCustomPageProducer {
public:
    // May be unset: then every tag expands to nothing.
    THTMLTagEvent OnHTMLTag;

    std::string ResolveTag(const std::string& tagName, TStrings& params) override;
};

// Splits a tag's parameter text into fields and appends them to list. Fields are separated by
// spaces, CRs and LFs (not TABs); a double quote groups blanks into a field; "%XY", "%%" and
// "+" are decoded (DecodeParamField) before, if stripQuotes is set, every double quote and
// apostrophe is deleted from the field.
void SplitTagParams(const std::string& text, bool stripQuotes, TStrings& list);

// "+" becomes a space, "%%" a "%", "%XY" the byte with the hexadecimal value XY. Throws
// EConvertError "'$XY' is not a valid integer value" when XY is not hexadecimal.
std::string DecodeParamField(const std::string& field);

} // namespace quillmark
