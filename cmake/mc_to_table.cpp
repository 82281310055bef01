// Build-time tool: turns the message-compiler source into the message-id
// header and the text table that builds without message-table resources use.
//
// usage: mc_to_table <catalog.mc> <ids header out> <table source out>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Message {
  unsigned long id = 0;
  std::string name;
  std::string text;  // lines joined with CR LF, as the message compiler stores them
};

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r");
  size_t e = s.find_last_not_of(" \t\r");
  return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

// Reads "Name=0xN:SYMBOL" pairs out of a "(...)" list into names.
void ReadNameList(const std::string& list, std::map<std::string, unsigned long>& names) {
  std::string body = list;
  for (char& c : body)
    if (c == '(' || c == ')' || c == '\t' || c == '\r' || c == '\n') c = ' ';
  std::istringstream in(body);
  std::string item;
  while (in >> item) {
    size_t eq = item.find('=');
    if (eq == std::string::npos) continue;
    std::string value = item.substr(eq + 1);
    size_t colon = value.find(':');
    if (colon != std::string::npos) value = value.substr(0, colon);
    names[item.substr(0, eq)] = std::strtoul(value.c_str(), nullptr, 0);
  }
}

std::string WideLiteral(const std::string& text) {
  std::string out = "L\"";
  for (unsigned char c : text) {
    if (c == '\\' || c == '"') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char buf[24];
      std::snprintf(buf, sizeof buf, "\" L\"\\x%04X\" L\"", c);
      out += buf;
    }
  }
  return out + "\"";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: mc_to_table <catalog.mc> <ids header> <table source>\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "mc_to_table: cannot read %s\n", argv[1]);
    return 1;
  }
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }

  std::map<std::string, unsigned long> severities, facilities;
  std::vector<Message> messages;
  Message current;
  unsigned long severity = 0, facility = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string line = Trim(lines[i]);
    if (line.empty() || line[0] == ';') continue;
    size_t eq = line.find('=');
    std::string key = eq == std::string::npos ? line : Trim(line.substr(0, eq));
    std::string value = eq == std::string::npos ? "" : Trim(line.substr(eq + 1));
    if (key == "SeverityNames" || key == "FacilityNames") {
      std::string list = value;
      while (list.find(')') == std::string::npos && i + 1 < lines.size()) list += " " + lines[++i];
      ReadNameList(list, key == "SeverityNames" ? severities : facilities);
    } else if (key == "MessageId") {
      current = Message();
      current.id = std::strtoul(value.c_str(), nullptr, 0);
    } else if (key == "Severity") {
      severity = severities[value];
    } else if (key == "Facility") {
      facility = facilities[value];
    } else if (key == "SymbolicName") {
      current.name = value;
    } else if (key == "Language") {
      // The text follows, line by line, up to a line holding a single dot.
      std::string text;
      for (++i; i < lines.size() && lines[i] != "."; ++i) text += lines[i] + "\r\n";
      current.text = text;
      current.id |= (severity << 30) | (facility << 16);
      messages.push_back(current);
    }
  }

  std::ofstream header(argv[2], std::ios::binary);
  header << "// Message ids of the catalogue, generated from res/sweepdirs.mc. Do not edit.\n"
            "#pragma once\n#include <cstdint>\n\n";
  for (const Message& m : messages) {
    char id[16];
    std::snprintf(id, sizeof id, "0x%08lX", m.id);
    header << "#define " << m.name << " ((uint32_t)" << id << ")\n";
  }

  std::ofstream table(argv[3], std::ios::binary);
  table << "// The catalogue's texts, generated from res/sweepdirs.mc. Do not edit.\n"
           "#include \"platform/common/catalog_table.h\"\n\n"
           "namespace plat {\n\nconst CatalogText kCatalogTexts[] = {\n";
  for (const Message& m : messages) {
    char id[16];
    std::snprintf(id, sizeof id, "0x%08lXu", m.id);
    table << "    {" << id << ", " << WideLiteral(m.text) << "},\n";
  }
  table << "};\n\nconst size_t kCatalogTextCount = " << messages.size() << ";\n\n}  // namespace plat\n";
  return header && table ? 0 : 1;
}
