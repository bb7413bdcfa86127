#include "scan/Reports.h"

#include <cstdio>

#include "common/Text.h"
#include "scan/RecordTable.h"
#include "scan/Recoverability.h"
#include "scan/SaveWalk.h"

namespace corvello {

std::optional<ListFormat> listFormatNamed(std::string_view name) {
    if (name == "tsv") return ListFormat::Tsv;
    if (name == "csv") return ListFormat::Csv;
    if (name == "json") return ListFormat::Json;
    if (name == "dfxml") return ListFormat::Dfxml;
    if (name == "body") return ListFormat::Body;
    return std::nullopt;
}

std::string isoUtc(const platform::UnixTime& t) {
    const auto civil = platform::utcTime(t);
    if (!civil) return {};
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", civil->year, civil->month, civil->day,
                  civil->hour, civil->minute, civil->second);
    std::string out = text;
    if (t.nanoseconds != 0 && t.nanoseconds < 1000000000u) {
        std::snprintf(text, sizeof text, ".%09u", static_cast<unsigned>(t.nanoseconds));
        std::string fraction = text;
        while (fraction.back() == '0') fraction.pop_back();
        out += fraction;
    }
    return out + "Z";
}

namespace {

std::string isoOrEmpty(const std::optional<platform::UnixTime>& t) { return t ? isoUtc(*t) : std::string(); }

// The tab-separated listing: type, state, size, [recoverability,] path.
class TsvWriter : public ListWriter {
public:
    TsvWriter(std::ostream& out, bool longForm) : out_(out), long_(longForm) {}
    void row(const ListRow& r) override {
        out_ << (r.folder ? 'd' : 'f') << '\t' << (r.deleted ? "deleted" : "live") << '\t' << r.size << '\t';
        if (long_) out_ << r.recoverability << '\t';
        out_ << r.path << '\n';
    }

private:
    std::ostream& out_;
    bool long_;
};

// RFC 4180: every field that holds a separator, a quote or a line break is quoted.
std::string csvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

class CsvWriter : public ListWriter {
public:
    CsvWriter(std::ostream& out, bool longForm) : out_(out), long_(longForm) {}
    void begin() override {
        out_ << "type,state,size," << (long_ ? "recoverability," : "") << "modified,accessed,changed,created,path\r\n";
    }
    void row(const ListRow& r) override {
        out_ << (r.folder ? "folder" : "file") << ',' << (r.deleted ? "deleted" : "live") << ',' << r.size << ',';
        if (long_) out_ << csvField(r.recoverability) << ',';
        out_ << isoOrEmpty(r.times.modification) << ',' << isoOrEmpty(r.times.access) << ','
             << isoOrEmpty(r.times.change) << ',' << isoOrEmpty(r.times.creation) << ',' << csvField(r.path) << "\r\n";
    }

private:
    std::ostream& out_;
    bool long_;
};

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string jsonTime(const std::optional<platform::UnixTime>& t) {
    const std::string text = isoOrEmpty(t);
    return text.empty() ? "null" : jsonString(text);
}

// JSON Lines: one object per entry; unknown times are null.
class JsonWriter : public ListWriter {
public:
    JsonWriter(std::ostream& out, bool longForm) : out_(out), long_(longForm) {}
    void row(const ListRow& r) override {
        out_ << "{\"type\":\"" << (r.folder ? "folder" : "file") << "\",\"state\":\""
             << (r.deleted ? "deleted" : "live") << "\",\"size\":" << r.size;
        if (long_) out_ << ",\"recoverability\":" << jsonString(r.recoverability);
        out_ << ",\"modified\":" << jsonTime(r.times.modification) << ",\"accessed\":" << jsonTime(r.times.access)
             << ",\"changed\":" << jsonTime(r.times.change) << ",\"created\":" << jsonTime(r.times.creation)
             << ",\"path\":" << jsonString(r.path) << "}\n";
    }

private:
    std::ostream& out_;
    bool long_;
};

// Text for an XML 1.0 element or attribute. The markup characters become entities; what XML 1.0
// has no place for (control characters other than tab and line breaks, U+FFFE, U+FFFF, a
// surrogate without its partner) is written as \uXXXX, as the terminal-safe text does, so the
// report stays well-formed whatever a name holds.
std::string xmlText(const std::string& text) {
    const std::u16string wide = fromUtf8(text);
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < wide.size(); ++i) {
        const char16_t c = wide[i];
        const bool high = c >= 0xD800 && c <= 0xDBFF;
        if (high && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF) {
            out += toUtf8(std::u16string_view(wide).substr(i, 2));
            ++i;
            continue;
        }
        switch (c) {
        case u'&': out += "&amp;"; break;
        case u'<': out += "&lt;"; break;
        case u'>': out += "&gt;"; break;
        case u'"': out += "&quot;"; break;
        default:
            if ((c < 0x20 && c != u'\t' && c != u'\n' && c != u'\r') || (c >= 0xD800 && c <= 0xDFFF) || c == 0xFFFE ||
                c == 0xFFFF) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(c));
                out += escaped;
            } else if (c < 0x80) {
                out += static_cast<char>(c);
            } else {
                out += toUtf8(std::u16string_view(&c, 1));
            }
        }
    }
    return out;
}

// Digital Forensics XML as the file-walking tools write it: one fileobject per entry, in the
// order of the listing, with allocation state and the times the file system keeps.
class DfxmlWriter : public ListWriter {
public:
    DfxmlWriter(std::ostream& out, ReportSource source) : out_(out), source_(std::move(source)) {}
    void begin() override {
        out_ << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                "<dfxml xmlns=\"http://www.forensicswiki.org/wiki/Category:Digital_Forensics_XML\" "
                "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" version=\"1.0\">\n"
                "  <metadata>\n    <dc:type>File listing</dc:type>\n  </metadata>\n"
                "  <creator>\n    <program>corvello-cli</program>\n  </creator>\n"
                "  <source>\n    <image_filename>"
             << xmlText(source_.image) << "</image_filename>\n  </source>\n";
    }
    void row(const ListRow& r) override {
        out_ << "  <fileobject>\n    <filename>" << xmlText(r.path) << "</filename>\n"
             << "    <name_type>" << (r.folder ? 'd' : 'r') << "</name_type>\n"
             << "    <filesize>" << r.size << "</filesize>\n"
             << (r.deleted ? "    <unalloc>1</unalloc>\n" : "    <alloc>1</alloc>\n");
        time("mtime", r.times.modification);
        time("atime", r.times.access);
        time("ctime", r.times.change);
        time("crtime", r.times.creation);
        if (!r.runs.empty()) {
            out_ << "    <byte_runs>\n";
            for (const ByteRun& run : r.runs)
                out_ << "      <byte_run file_offset=\"" << run.fileOffset << "\" fs_offset=\"" << run.volumeOffset
                     << "\" img_offset=\"" << source_.volumeStart + run.volumeOffset << "\" len=\"" << run.length
                     << "\"/>\n";
            out_ << "    </byte_runs>\n";
        }
        out_ << "  </fileobject>\n";
    }
    void end() override { out_ << "</dfxml>\n"; }

private:
    void time(const char* element, const std::optional<platform::UnixTime>& t) {
        const std::string text = isoOrEmpty(t);
        if (!text.empty()) out_ << "    <" << element << ">" << text << "</" << element << ">\n";
    }
    std::ostream& out_;
    ReportSource source_;
};

std::string bodyTime(const std::optional<platform::UnixTime>& t) { return t ? std::to_string(t->seconds) : "0"; }

// The bodyfile a timeline tool reads: MD5|name|inode|mode|UID|GID|size|atime|mtime|ctime|crtime,
// seconds since 1970 in UTC and 0 where a time is not known. Deleted entries carry " (deleted)"
// after their name; a '|' in a name is written as \x7c so the fields stay apart.
class BodyWriter : public ListWriter {
public:
    explicit BodyWriter(std::ostream& out) : out_(out) {}
    void row(const ListRow& r) override {
        std::string name = "/";
        for (char c : r.path) name += c == '|' ? std::string("\\x7c") : std::string(1, c);
        if (r.deleted) name += " (deleted)";
        out_ << "0|" << name << "|0|" << (r.folder ? "d/d---------" : "r/r---------") << "|0|0|" << r.size << '|'
             << bodyTime(r.times.access) << '|' << bodyTime(r.times.modification) << '|' << bodyTime(r.times.change)
             << '|' << bodyTime(r.times.creation) << '\n';
    }

private:
    std::ostream& out_;
};

}  // namespace

std::unique_ptr<ListWriter> makeListWriter(ListFormat format, std::ostream& out, bool longForm,
                                           const ReportSource& source) {
    switch (format) {
    case ListFormat::Csv: return std::make_unique<CsvWriter>(out, longForm);
    case ListFormat::Json: return std::make_unique<JsonWriter>(out, longForm);
    case ListFormat::Dfxml: return std::make_unique<DfxmlWriter>(out, source);
    case ListFormat::Body: return std::make_unique<BodyWriter>(out);
    case ListFormat::Tsv: break;
    }
    return std::make_unique<TsvWriter>(out, longForm);
}

void writeReport(const ScanSession& session, const std::vector<ItemData>& records, ListFormat format,
                 std::ostream& out, bool longForm, const ReportSource& source) {
    const auto writer = makeListWriter(format, out, longForm, source);
    writer->begin();
    const unsigned detail = format == ListFormat::Tsv ? 0u : unsigned{RecordTable::kTimes};
    walkEntries(RecordTable::fill(session, records, 0, detail), [&](const ListedEntry& e) {
        ListRow row{e.folder, e.deleted, e.size, terminalSafe(e.path), {}, {}, {}};
        // --long: whether a deleted file's data are still there ("-" for live files and folders).
        if (longForm)
            row.recoverability =
                e.folder || !e.deleted ? std::string("-") : recoverabilityText(session.recoverability(e.data));
        if (format != ListFormat::Tsv) row.times = e.table->times(e.row);
        if (format == ListFormat::Dfxml && !e.folder) row.runs = session.byteRuns(e.data);
        writer->row(row);
    });
    writer->end();
}

}  // namespace corvello
