#include "imaging/pdf/pdf_object.h"

#include <stdexcept>

namespace kovran::imaging::pdf {

namespace {

constexpr std::string_view kEol = "\r\n";
// What a content stream that received nothing holds: a stream of zero bytes
// is legal, but readers have been seen to choke on "stream" followed
// directly by "endstream".
constexpr std::string_view kEmptyContent = " ";

bool HasStream(const PdfObject& object) {
    return object.contentStream || !object.streamText.empty() || !object.streamBytes.empty();
}

}  // namespace

PdfDictionary::Entry* PdfDictionary::Find(std::string_view key) {
    for (Entry& e : entries_)
        if (e.key == key) return &e;
    return nullptr;
}

const PdfDictionary::Entry* PdfDictionary::Find(std::string_view key) const {
    for (const Entry& e : entries_)
        if (e.key == key) return &e;
    return nullptr;
}

PdfDictionary::Entry& PdfDictionary::Slot(std::string_view keyPath, PdfEntryKind kind) {
    const std::size_t slash = keyPath.find('/');
    if (slash != std::string_view::npos)
        return Nested(keyPath.substr(0, slash)).Slot(keyPath.substr(slash + 1), kind);
    if (keyPath.empty()) throw std::invalid_argument("empty PDF dictionary key");
    Entry* entry = Find(keyPath);
    if (entry == nullptr) {
        entry = &entries_.emplace_back();
        entry->key = keyPath;
    }
    if (entry->kind != kind) {
        // A new kind replaces the old value whole.
        entry->text.clear();
        entry->references.clear();
        entry->nested.reset();
        entry->kind = kind;
    }
    return *entry;
}

void PdfDictionary::SetLiteral(std::string_view keyPath, std::string_view text) {
    Slot(keyPath, PdfEntryKind::LiteralString).text = text;
}

void PdfDictionary::SetInteger(std::string_view keyPath, std::int64_t value) {
    Slot(keyPath, PdfEntryKind::Integer).integer = value;
}

void PdfDictionary::SetName(std::string_view keyPath, std::string_view name) {
    Slot(keyPath, PdfEntryKind::Name).text = name;
}

void PdfDictionary::SetRaw(std::string_view keyPath, std::string_view text) {
    Slot(keyPath, PdfEntryKind::Raw).text = text;
}

void PdfDictionary::SetReference(std::string_view keyPath, int objectNumber) {
    Entry& e = Slot(keyPath, PdfEntryKind::Reference);
    e.references.assign(1, objectNumber);
}

void PdfDictionary::AddReference(std::string_view keyPath, int objectNumber) {
    Slot(keyPath, PdfEntryKind::ReferenceList).references.push_back(objectNumber);
}

PdfDictionary& PdfDictionary::Nested(std::string_view keyPath) {
    Entry& e = Slot(keyPath, PdfEntryKind::Dictionary);
    if (!e.nested) e.nested = std::make_unique<PdfDictionary>();
    return *e.nested;
}

bool PdfDictionary::Has(std::string_view key) const {
    return Find(key) != nullptr;
}

std::string PdfDictionary::ValueText(std::string_view key) const {
    const Entry* e = Find(key);
    if (e == nullptr) return {};
    std::string out;
    WriteValue(*e, out, 1);
    return out;
}

void PdfDictionary::WriteValue(const Entry& e, std::string& out, int level) {
    switch (e.kind) {
        case PdfEntryKind::LiteralString:
            out += LiteralString(e.text);
            break;
        case PdfEntryKind::Integer:
            out += std::to_string(e.integer);
            break;
        case PdfEntryKind::Name:
            out += '/';
            out += e.text;
            break;
        case PdfEntryKind::Raw:
            out += e.text;
            break;
        case PdfEntryKind::Reference:
            out += std::to_string(e.references.front()) + " 0 R";
            break;
        case PdfEntryKind::ReferenceList:
            out += '[';
            for (std::size_t i = 0; i < e.references.size(); ++i) {
                if (i > 0) out += ' ';
                out += std::to_string(e.references[i]) + " 0 R";
            }
            out += ']';
            break;
        case PdfEntryKind::Dictionary:
            out += "<<";
            out += kEol;
            e.nested->WriteEntries(out, level + 1);
            out.append(static_cast<std::size_t>(level), '\t');
            out += ">>";
            break;
    }
}

void PdfDictionary::WriteEntries(std::string& out, int level) const {
    for (const Entry& e : entries_) {
        out.append(static_cast<std::size_t>(level), '\t');
        out += '/';
        out += e.key;
        out += ' ';
        WriteValue(e, out, level);
        out += kEol;
    }
}

std::string SerializeObjectHead(PdfObject& object) {
    std::string& text = object.streamText;
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
    if (HasStream(object))
        object.dictionary.SetInteger("Length",
                                     static_cast<std::int64_t>(ObjectStreamData(object).size()));
    std::string out = std::to_string(object.number) + " 0 obj";
    out += kEol;
    out += "<<";
    out += kEol;
    object.dictionary.WriteEntries(out, 1);
    out += ">>";
    out += kEol;
    if (HasStream(object)) {
        out += "stream";
        out += kEol;
    }
    return out;
}

std::string_view ObjectStreamData(const PdfObject& object) {
    if (!object.streamBytes.empty())
        return {reinterpret_cast<const char*>(object.streamBytes.data()),
                object.streamBytes.size()};
    if (!object.streamText.empty()) return object.streamText;
    if (object.contentStream) return kEmptyContent;
    return {};
}

std::string SerializeObjectTail(const PdfObject& object) {
    std::string out;
    if (HasStream(object)) {
        out += kEol;
        out += "endstream";
        out += kEol;
    }
    out += "endobj";
    out += kEol;
    return out;
}

std::string LiteralString(std::string_view text) {
    std::string out = "(";
    for (char c : text) {
        switch (c) {
            case '(':
            case ')':
            case '\\':
                out += '\\';
                out += c;
                break;
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            default:
                out += c;
        }
    }
    out += ')';
    return out;
}

std::string EscapeName(std::string_view text) {
    static constexpr std::string_view kDelimiters = "()<>[]{}/%#";
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b < '!' || b > '~' || kDelimiters.find(c) != std::string_view::npos) {
            out += '#';
            out += kHex[b >> 4];
            out += kHex[b & 0xF];
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace kovran::imaging::pdf
