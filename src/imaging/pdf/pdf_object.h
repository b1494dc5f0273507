// The objects a PDF document is built from: a dictionary of ordered entries
// (each written in the form of its kind), an optional stream, and the
// children that follow it in the file. The bytes of an object are fixed to
// the byte: archives compare files, and cross-reference offsets depend on
// every character.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kovran::imaging::pdf {

enum class PdfEntryKind {
    LiteralString,  // "(" + text + ")", with ( ) \ and line ends escaped
    Integer,
    Name,           // "/" + text; the text is already a valid name token
    Raw,            // written unchanged (the MediaBox array)
    Reference,      // "N 0 R"
    ReferenceList,  // "[N 0 R M 0 R]"; setting it again appends
    Dictionary,     // on the following lines, one tab deeper
};

class PdfDictionary {
  public:
    // Keys may be paths: "Resources/XObject/Im1" addresses Im1 in the
    // dictionary under XObject in the one under Resources, each created as
    // the next entry of its parent on first use. Setting a key that exists
    // replaces its value in its place; a reference list appends instead.
    void SetLiteral(std::string_view keyPath, std::string_view text);
    void SetInteger(std::string_view keyPath, std::int64_t value);
    void SetName(std::string_view keyPath, std::string_view name);
    void SetRaw(std::string_view keyPath, std::string_view text);
    void SetReference(std::string_view keyPath, int objectNumber);
    void AddReference(std::string_view keyPath, int objectNumber);
    // The nested dictionary at keyPath, created empty when missing.
    PdfDictionary& Nested(std::string_view keyPath);

    bool Has(std::string_view key) const;
    // The written value of a top-level entry ("" when absent); for tests
    // and for reading the MediaBox back.
    std::string ValueText(std::string_view key) const;
    std::size_t Size() const { return entries_.size(); }

    // Appends the entries, each on its own line with `level` tabs, and for
    // nested dictionaries their closing line with level - 1 tabs.
    void WriteEntries(std::string& out, int level) const;

  private:
    struct Entry {
        std::string key;
        PdfEntryKind kind = PdfEntryKind::Raw;
        std::string text;  // literal, name and raw text
        std::int64_t integer = 0;
        std::vector<int> references;
        std::unique_ptr<PdfDictionary> nested;
    };
    Entry& Slot(std::string_view keyPath, PdfEntryKind kind);
    Entry* Find(std::string_view key);
    const Entry* Find(std::string_view key) const;
    static void WriteValue(const Entry& entry, std::string& out, int level);

    std::vector<Entry> entries_;
};

struct PdfObject {
    explicit PdfObject(int n) : number(n) {}

    int number;  // generation always 0
    PdfDictionary dictionary;
    // Text streams (page contents, metadata) grow by appending; image data
    // is bytes.
    std::string streamText;
    std::vector<std::uint8_t> streamBytes;
    // A page's content stream is a stream even when nothing was drawn.
    bool contentStream = false;
    std::int64_t offset = 0;
    // Written right after this object, in order (not owned).
    std::vector<PdfObject*> children;
};

// The bytes of one object: "N 0 obj", the dictionary (with "Length" set as
// its last entry when the object has a stream), the stream, "endobj". Text
// streams lose their trailing CR and LF; a content stream that received
// nothing holds one blank.
std::string SerializeObjectHead(PdfObject& object);
// The bytes after the head: the stream data (if any) and its end, "endobj".
// Split from the head so that large image data is written without a copy.
std::string_view ObjectStreamData(const PdfObject& object);
std::string SerializeObjectTail(const PdfObject& object);

// "(" text ")" as a PDF literal string: ( ) \ escaped with a backslash, CR
// and LF as \r and \n, so that any text keeps the string closed.
std::string LiteralString(std::string_view text);

// A name token's text for arbitrary bytes: bytes outside '!'..'~', the
// delimiters ( ) < > [ ] { } / % and '#' itself become #xx.
std::string EscapeName(std::string_view text);

}  // namespace kovran::imaging::pdf
