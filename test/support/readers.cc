// Readers for published vector formats: a small JSON parser with the
// Wycheproof test-group walk, and PEM/base64 for DER files.
#include <cctype>
#include <cstring>
#include <fstream>
#include <iterator>
#include <utility>

#include "test_support.h"

namespace morvane_test {

namespace {

// Recursive-descent JSON; `ok` turns false at the first error.
struct JsonParser {
  const std::string& s;
  size_t i = 0;
  bool ok = true;

  void Space() {
    while (i < s.size() && strchr(" \t\r\n", s[i]) != nullptr) i++;
  }
  bool Eat(char c) {
    Space();
    if (i < s.size() && s[i] == c) {
      i++;
      return true;
    }
    return false;
  }
  Json Fail() {
    ok = false;
    return Json();
  }
  std::string String() {  // after the opening quote; \u escapes kept for ASCII only
    std::string out;
    while (i < s.size() && s[i] != '"') {
      char c = s[i++];
      if (c == '\\' && i < s.size()) {
        c = s[i++];
        static const char kEscapes[] = "n\nt\tr\rb\bf\f";
        const char* e = strchr(kEscapes, c);
        if (c != 0 && e != nullptr && (e - kEscapes) % 2 == 0) c = e[1];
        if (c == 'u' && i + 4 <= s.size()) {
          c = static_cast<char>(std::stoul(s.substr(i, 4), nullptr, 16));
          i += 4;
        }
      }
      out += c;
    }
    if (i >= s.size()) ok = false;
    i++;
    return out;
  }
  Json Value(int depth) {
    Space();
    if (i >= s.size() || depth > 64) return Fail();
    Json v;
    const char c = s[i];
    if (c == '{') {
      i++;
      v.type = Json::kObject;
      if (Eat('}')) return v;
      do {
        if (!Eat('"')) return Fail();
        std::string key = String();
        if (!Eat(':')) return Fail();
        v.items.push_back(Value(depth + 1));
        v.items.back().key = std::move(key);
      } while (ok && Eat(','));
      return Eat('}') ? v : Fail();
    }
    if (c == '[') {
      i++;
      v.type = Json::kArray;
      if (Eat(']')) return v;
      do v.items.push_back(Value(depth + 1));
      while (ok && Eat(','));
      return Eat(']') ? v : Fail();
    }
    if (c == '"') {
      i++;
      v.type = Json::kString;
      v.text = String();
      return v;
    }
    for (const char* word : {"true", "false", "null"}) {
      if (s.compare(i, strlen(word), word) == 0) {
        i += strlen(word);
        v.type = word[0] == 'n' ? Json::kNull : Json::kBool;
        if (word[0] != 'n') v.text = word;
        return v;
      }
    }
    const size_t start = i;
    while (i < s.size() && strchr("+-.0123456789eE", s[i]) != nullptr) i++;
    if (i == start) return Fail();
    v.type = Json::kNumber;
    v.text = s.substr(start, i - start);
    return v;
  }
};

// Scalars as text, objects flattened with dotted names, arrays joined by ",".
void Flatten(const Json& v, const std::string& name, std::map<std::string, std::string>* out) {
  if (v.type == Json::kObject) {
    for (const Json& m : v.items)
      if (m.key != "tests") Flatten(m, name.empty() ? m.key : name + "." + m.key, out);
  } else if (v.type == Json::kArray) {
    std::string joined;
    for (const Json& item : v.items) joined += (joined.empty() ? "" : ",") + item.text;
    (*out)[name] = joined;
  } else {
    (*out)[name] = v.text;
  }
}

}  // namespace

const Json& Json::operator[](const std::string& name) const {
  static const Json kNullValue;
  for (const Json& m : items)
    if (type == kObject && m.key == name) return m;
  return kNullValue;
}

Json ParseJson(const std::string& text) {
  JsonParser p{text};
  Json v = p.Value(0);
  p.Space();
  if (!p.ok || p.i != text.size()) {
    ADD_FAILURE() << "malformed JSON near offset " << p.i;
    return Json();
  }
  return v;
}

std::string WycheproofTest::Get(const std::string& key) const {
  if (auto it = fields.find(key); it != fields.end()) return it->second;
  if (auto it = group.find(key); it != group.end()) return it->second;
  ADD_FAILURE() << "tcId " << id << " has no field " << key;
  return "";
}

bool WycheproofTest::HasFlag(const std::string& flag) const {
  for (const std::string& f : flags)
    if (f == flag) return true;
  return false;
}

std::vector<WycheproofTest> ReadWycheproof(const std::string& path) {
  std::vector<WycheproofTest> out;
  const Json file = ParseJson(ReadFile(path));
  for (const Json& g : file["testGroups"].items) {
    std::map<std::string, std::string> group;
    Flatten(g, "", &group);
    for (const Json& t : g["tests"].items) {
      WycheproofTest w;
      w.group = group;
      Flatten(t, "", &w.fields);
      w.id = std::stoi(w.fields["tcId"]);
      for (const Json& f : t["flags"].items) w.flags.push_back(f.text);
      out.push_back(std::move(w));
    }
  }
  if (out.empty()) ADD_FAILURE() << "no tests in " << path;
  return out;
}

Bytes ReadFileBytes(const std::string& path) {
  const std::string s = ReadFile(path);
  return Bytes(s.begin(), s.end());
}

Bytes FromBase64(const std::string& text) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  Bytes out;
  uint32_t acc = 0;
  int bits = 0;
  for (char c : text) {
    if (c == '=' || isspace(static_cast<unsigned char>(c))) continue;
    const char* at = c != '\0' ? strchr(kAlphabet, c) : nullptr;
    if (at == nullptr) {
      ADD_FAILURE() << "bad base64 character " << static_cast<int>(c);
      return {};
    }
    acc = acc << 6 | static_cast<uint32_t>(at - kAlphabet);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<uint8_t>(acc >> bits));
    }
  }
  return out;
}

Bytes PemBody(const std::string& pem, const std::string& label, int index) {
  const std::string begin = "-----BEGIN " + label + "-----", end = "-----END " + label + "-----";
  size_t at = 0;
  for (int n = 0;; n++) {
    at = pem.find(begin, at);
    if (at == std::string::npos) break;
    at += begin.size();
    const size_t stop = pem.find(end, at);
    if (stop == std::string::npos) break;
    if (n == index) {
      std::string body = pem.substr(at, stop - at);
      // Drop RFC 1421 header lines ("Proc-Type: ...") and the blank line after them.
      if (const size_t colon = body.find(':'); colon != std::string::npos) {
        const size_t blank = body.find("\n\n");
        if (blank != std::string::npos) body = body.substr(blank + 2);
      }
      return FromBase64(body);
    }
  }
  ADD_FAILURE() << "no PEM block " << label << " #" << index;
  return {};
}

Bytes Pkcs8PrivateKey(const Bytes& pkcs8) {
  // Definite-length headers only (DER); returns the content's offset.
  size_t at = 0;
  auto header = [&](size_t* len) {
    if (at + 2 > pkcs8.size()) return false;
    at++;  // identifier
    size_t n = pkcs8[at++];
    if (n & 0x80) {
      const size_t octets = n & 0x7F;
      if (octets == 0 || octets > 4 || at + octets > pkcs8.size()) return false;
      n = 0;
      for (size_t i = 0; i < octets; i++) n = (n << 8) | pkcs8[at++];
    }
    *len = n;
    return at + n <= pkcs8.size();
  };
  size_t len = 0;
  // PrivateKeyInfo (RFC 5208, 5): SEQUENCE { version, algorithm, OCTET STRING }.
  bool ok = header(&len);
  for (int skip = 0; ok && skip < 2; skip++) {
    ok = header(&len);
    at += len;
  }
  if (ok && at < pkcs8.size() && pkcs8[at] == 0x04 && header(&len))
    return Bytes(pkcs8.begin() + at, pkcs8.begin() + at + len);
  ADD_FAILURE() << "not a PrivateKeyInfo";
  return {};
}

}  // namespace morvane_test
