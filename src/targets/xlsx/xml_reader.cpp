#include "targets/xlsx/xml_reader.h"

#include <cstring>

#include "platform/error.h"
#include "targets/xlsx/byte_source.h"
#include "text/unicode.h"

namespace qm::xlsx {

namespace {

constexpr std::size_t kChunk = 256 * 1024;
// No single tag or text run of a spreadsheet part comes near this; a larger one is damage or
// an attack on memory.
constexpr std::size_t kMaxToken = 256u << 20;

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

}  // namespace

TXmlReader::TXmlReader(std::string_view document, std::u16string file, std::string part)
    : data_(document.data()),
      end_(document.size()),
      eof_(true),
      file_(std::move(file)),
      part_(std::move(part)) {}

TXmlReader::TXmlReader(TXmlInput& input, std::u16string file, std::string part)
    : input_(&input), file_(std::move(file)), part_(std::move(part)) {
    storage_.resize(kChunk);
    data_ = storage_.data();
}

void TXmlReader::Fail(std::u16string_view reason) const {
    FailCorrupt(file_, u"XML 部品「" + Utf8ToUtf16(part_) + u"」の " +
                           Utf8ToUtf16(std::to_string(base_ + pos_)) + u" バイト目: " +
                           std::u16string(reason));
}

bool TXmlReader::Fill(std::size_t need) {
    while (Available() < need) {
        if (eof_) return false;
        if (pos_ > 0 && (pos_ > storage_.size() / 2 || end_ == storage_.size())) {
            std::memmove(storage_.data(), storage_.data() + pos_, Available());
            base_ += pos_;
            end_ -= pos_;
            pos_ = 0;
        }
        if (end_ == storage_.size()) {
            if (storage_.size() >= kMaxToken) Fail(u"要素が大きすぎます");
            storage_.resize(storage_.size() * 2);
        }
        data_ = storage_.data();
        std::size_t n = input_->Read(storage_.data() + end_, storage_.size() - end_);
        if (n == 0) eof_ = true;
        end_ += n;
    }
    return true;
}

std::string_view TXmlReader::Buffered(std::size_t want) {
    if (pendingEnd_) return {};
    Fill(want);
    return std::string_view(data_ + pos_, Available());
}

std::size_t TXmlReader::FindInBuffer(std::string_view what, std::size_t from) {
    for (;;) {
        if (Available() >= from + what.size()) {
            std::string_view window(data_ + pos_ + from, Available() - from);
            std::size_t hit = window.find(what);
            if (hit != std::string_view::npos) return from + hit;
            from = Available() - what.size() + 1;
        }
        if (!Fill(Available() + 1)) return std::string_view::npos;
    }
}

std::string_view TXmlReader::LocalName() const noexcept {
    std::size_t colon = name_.find(':');
    return colon == std::string_view::npos ? name_ : name_.substr(colon + 1);
}

std::string_view TXmlReader::Prefix() const noexcept {
    std::size_t colon = name_.find(':');
    return colon == std::string_view::npos ? std::string_view() : name_.substr(0, colon);
}

bool TXmlReader::Attribute(std::string_view name, std::string& value) const {
    for (const TXmlAttribute& a : attributes_) {
        if (a.Name == name) {
            Decode(a.RawValue, value, false);
            return true;
        }
    }
    return false;
}

bool TXmlReader::NamespacedAttribute(std::string_view uri, std::string_view localName,
                                     std::string& value) const {
    for (const TXmlAttribute& a : attributes_) {
        std::size_t colon = a.Name.find(':');
        // Unprefixed attributes are in no namespace, whatever the default namespace is.
        if (colon == std::string_view::npos || a.Name.substr(colon + 1) != localName) continue;
        int binding = LookUpNamespace(a.Name.substr(0, colon));
        if (binding >= 0 && bindings_[static_cast<std::size_t>(binding)].Uri == uri) {
            Decode(a.RawValue, value, false);
            return true;
        }
    }
    return false;
}

int TXmlReader::LookUpNamespace(std::string_view prefix) const {
    for (std::size_t i = bindings_.size(); i-- > 0;)
        if (bindings_[i].Prefix == prefix) return static_cast<int>(i);
    return -1;
}

void TXmlReader::DeclareNamespaces() {
    for (const TXmlAttribute& a : attributes_) {
        if (a.Name.substr(0, 5) != "xmlns") continue;
        std::string_view prefix;
        if (a.Name.size() == 5)
            prefix = {};
        else if (a.Name[5] == ':' && a.Name.size() > 6)
            prefix = a.Name.substr(6);
        else
            continue;  // a name that merely starts with "xmlns"
        TBinding binding;
        binding.Prefix.assign(prefix);
        Decode(a.RawValue, binding.Uri, false);
        if (!prefix.empty() && binding.Uri.empty()) Fail(u"名前空間の宣言が不正です");
        binding.Depth = depth_;
        bindings_.push_back(std::move(binding));
    }
}

void TXmlReader::Decode(std::string_view raw, std::string& out, bool normaliseLineEnds) const {
    out.clear();
    if (raw.find_first_of("&\r") == std::string_view::npos) {
        out.assign(raw);
        return;
    }
    out.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
        char c = raw[i];
        if (c == '\r') {
            // XML turns CR LF and lone CR into LF; only a character reference keeps a CR.
            if (normaliseLineEnds) {
                out += '\n';
                if (i + 1 < raw.size() && raw[i + 1] == '\n') ++i;
            } else {
                out += ' ';
                if (i + 1 < raw.size() && raw[i + 1] == '\n') ++i;
            }
            continue;
        }
        if (c != '&') {
            out += c;
            continue;
        }
        std::size_t semi = raw.find(';', i);
        if (semi == std::string_view::npos || semi - i > 12) Fail(u"実体参照が閉じていません");
        std::string_view entity = raw.substr(i + 1, semi - i - 1);
        if (entity == "lt")
            out += '<';
        else if (entity == "gt")
            out += '>';
        else if (entity == "amp")
            out += '&';
        else if (entity == "quot")
            out += '"';
        else if (entity == "apos")
            out += '\'';
        else if (entity.size() >= 2 && entity[0] == '#') {
            std::uint32_t cp = 0;
            bool hex = entity[1] == 'x';
            std::string_view digits = entity.substr(hex ? 2 : 1);
            if (digits.empty()) Fail(u"文字参照が不正です");
            for (char d : digits) {
                std::uint32_t v;
                if (d >= '0' && d <= '9')
                    v = static_cast<std::uint32_t>(d - '0');
                else if (hex && d >= 'a' && d <= 'f')
                    v = static_cast<std::uint32_t>(d - 'a' + 10);
                else if (hex && d >= 'A' && d <= 'F')
                    v = static_cast<std::uint32_t>(d - 'A' + 10);
                else
                    Fail(u"文字参照が不正です");
                cp = cp * (hex ? 16 : 10) + v;
                if (cp > 0x10FFFF) Fail(u"文字参照が不正です");
            }
            if (cp == 0 || (cp >= 0xD800 && cp <= 0xDFFF)) Fail(u"文字参照が不正です");
            AppendUtf8(out, cp);
        } else {
            Fail(u"未定義の実体参照があります");
        }
        i = semi;
    }
}

TXmlReader::TToken TXmlReader::Next() {
    if (pendingEnd_) {
        pendingEnd_ = false;
        token_ = TToken::EndElement;
        tokenStart_ = tokenEnd_;
        --depth_;
        return token_;
    }
    // The declarations of the element that ended last go out of scope.
    while (!bindings_.empty() && bindings_.back().Depth > depth_)
        bindings_.pop_back();
    namespace_ = -1;
    for (;;) {
        if (!Fill(1)) {
            if (depth_ != 0 || !started_) Fail(u"文書が途中で終わっています");
            token_ = TToken::End;
            tokenStart_ = tokenEnd_ = base_ + pos_;
            return token_;
        }
        if (!started_ && base_ + pos_ == 0 && Fill(3) &&
            std::string_view(data_ + pos_, 3) == "\xEF\xBB\xBF") {
            pos_ += 3;
            continue;
        }
        if (data_[pos_] != '<') {
            ReadText();
            if (depth_ == 0) {
                for (char c : text_)
                    if (!IsSpace(c)) Fail(u"ルート要素の外に文字があります");
                continue;
            }
            return token_;
        }
        if (!Fill(2)) Fail(u"文書が途中で終わっています");
        char second = data_[pos_ + 1];
        if (second == '?') {
            std::size_t close = FindInBuffer("?>", 2);
            if (close == std::string_view::npos) Fail(u"処理命令が閉じていません");
            pos_ += close + 2;
            continue;
        }
        if (second == '!') {
            if (Fill(4) && std::string_view(data_ + pos_, 4) == "<!--") {
                std::size_t close = FindInBuffer("-->", 4);
                if (close == std::string_view::npos) Fail(u"コメントが閉じていません");
                pos_ += close + 3;
                continue;
            }
            if (Fill(9) && std::string_view(data_ + pos_, 9) == "<![CDATA[") {
                if (depth_ == 0) Fail(u"ルート要素の外に CDATA があります");
                std::size_t close = FindInBuffer("]]>", 9);
                if (close == std::string_view::npos) Fail(u"CDATA が閉じていません");
                tokenStart_ = base_ + pos_;
                std::string_view raw(data_ + pos_ + 9, close - 9);
                text_.clear();
                for (std::size_t i = 0; i < raw.size(); ++i) {
                    if (raw[i] == '\r') {
                        text_ += '\n';
                        if (i + 1 < raw.size() && raw[i + 1] == '\n') ++i;
                    } else {
                        text_ += raw[i];
                    }
                }
                pos_ += close + 3;
                tokenEnd_ = base_ + pos_;
                token_ = TToken::Text;
                return token_;
            }
            Fail(u"文書型宣言（DTD）や未対応の構文は使えません");
        }
        ParseTag();
        return token_;
    }
}

void TXmlReader::ReadText() {
    tokenStart_ = base_ + pos_;
    std::size_t close = FindInBuffer("<", 0);
    if (close == std::string_view::npos) close = Available();
    Decode(std::string_view(data_ + pos_, close), text_, true);
    pos_ += close;
    tokenEnd_ = base_ + pos_;
    token_ = TToken::Text;
}

void TXmlReader::ParseTag() {
    // Find the closing ">" outside quoted attribute values.
    std::size_t i = 1;
    char quote = 0;
    for (;;) {
        if (i >= Available() && !Fill(i + 1)) Fail(u"タグが閉じていません");
        char c = data_[pos_ + i];
        if (quote) {
            if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            break;
        } else if (c == '<') {
            Fail(u"タグの中に「<」があります");
        }
        ++i;
    }
    tokenStart_ = base_ + pos_;
    std::string_view tag(data_ + pos_ + 1, i - 1);  // between "<" and ">"
    pos_ += i + 1;
    tokenEnd_ = base_ + pos_;
    attributes_.clear();
    selfClosing_ = false;

    if (!tag.empty() && tag.front() == '/') {
        std::string_view name = tag.substr(1);
        while (!name.empty() && IsSpace(name.back()))
            name.remove_suffix(1);
        if (depth_ == 0) Fail(u"対応する開始タグのない終了タグがあります");
        name_ = name;
        if (name != nameCopy_) {
            // Only the innermost open element's name is kept; compare against it.
            Fail(u"終了タグが開始タグと対応していません");
        }
        namespace_ = LookUpNamespace(Prefix());
        token_ = TToken::EndElement;
        --depth_;
        // The enclosing element's name becomes the one to match next.
        if (!openNames_.empty()) openNames_.pop_back();
        nameCopy_ = openNames_.empty() ? std::string() : openNames_.back();
        return;
    }
    if (!tag.empty() && tag.back() == '/') {
        selfClosing_ = true;
        tag.remove_suffix(1);
    }
    std::size_t n = 0;
    while (n < tag.size() && !IsSpace(tag[n]))
        ++n;
    if (n == 0) Fail(u"要素名がありません");
    name_ = tag.substr(0, n);
    std::size_t p = n;
    for (;;) {
        while (p < tag.size() && IsSpace(tag[p]))
            ++p;
        if (p >= tag.size()) break;
        std::size_t nameStart = p;
        while (p < tag.size() && tag[p] != '=' && !IsSpace(tag[p]))
            ++p;
        std::string_view attrName = tag.substr(nameStart, p - nameStart);
        while (p < tag.size() && IsSpace(tag[p]))
            ++p;
        if (p >= tag.size() || tag[p] != '=' || attrName.empty()) Fail(u"属性が不正です");
        ++p;
        while (p < tag.size() && IsSpace(tag[p]))
            ++p;
        if (p >= tag.size() || (tag[p] != '"' && tag[p] != '\''))
            Fail(u"属性値に引用符がありません");
        char q = tag[p++];
        std::size_t valueEnd = tag.find(q, p);
        if (valueEnd == std::string_view::npos) Fail(u"属性値が閉じていません");
        attributes_.push_back({attrName, tag.substr(p, valueEnd - p)});
        p = valueEnd + 1;
    }
    if (depth_ == 0 && started_) Fail(u"ルート要素が複数あります");
    started_ = true;
    ++depth_;
    DeclareNamespaces();
    namespace_ = LookUpNamespace(Prefix());
    token_ = TToken::StartElement;
    if (selfClosing_) {
        pendingEnd_ = true;
    } else {
        openNames_.emplace_back(name_);
        nameCopy_ = openNames_.back();
    }
}

void TXmlReader::SkipElement() {
    if (token_ != TToken::StartElement) return;
    int target = depth_ - 1;
    while (Next() != TToken::End) {
        if (token_ == TToken::EndElement && depth_ == target) return;
    }
}

std::string TXmlReader::ReadElementText() {
    std::string result;
    if (token_ != TToken::StartElement) return result;
    int target = depth_ - 1;
    while (Next() != TToken::End) {
        if (token_ == TToken::Text)
            result += text_;
        else if (token_ == TToken::EndElement && depth_ == target)
            break;
    }
    return result;
}

}  // namespace qm::xlsx
