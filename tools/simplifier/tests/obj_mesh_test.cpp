// The simplifier's OBJ reading: the direct number conversion against the
// plain one, and the pieces read side by side against a reader of the
// test's own.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "obj_mesh.h"

namespace simp {
namespace {

std::uint32_t bitsOf(float f) {
  std::uint32_t b;
  std::memcpy(&b, &f, sizeof b);
  return b;
}

TEST(SimplifierNumbers, DirectConversionGivesThePlainOnesAnswer) {
  std::mt19937_64 rng(7);
  auto digits = [&](int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += char('0' + rng() % 10);
    return s;
  };
  std::vector<std::string> words = {"0",       "-0",       "0.0",    "-0.0",   "1.",     ".5",      "-.5",
                                    "+1.5",    "+-1",      "1e5",    "1.5E-3", "inf",    "nan",     "-",
                                    "",        "1.2.3",    "0x10",   "1,5",    "3.4e39", "16777217", "0.1",
                                    "9007199254740993", "12345678901234567890", "0.00000000000000000000001"};
  for (int i = 0; i < 200000; ++i) {
    std::string w;
    if (rng() % 4 == 0) w += '-';
    w += digits(1 + int(rng() % 12));
    if (rng() % 3) w += "." + digits(int(rng() % 25));
    if (rng() % 50 == 0) w += "e" + std::to_string(int(rng() % 60) - 30);
    if (rng() % 100 == 0) w.insert(rng() % (w.size() + 1), 1, "x+-. "[rng() % 5]);
    words.push_back(w);
  }
  for (const std::string& w : words) {
    float fast = 12345.f, plain = 12345.f;
    const bool a = readCoordinate(w, fast), b = readCoordinatePlain(w, plain);
    ASSERT_EQ(a, b) << "'" << w << "'";
    if (a) {
      ASSERT_EQ(bitsOf(fast), bitsOf(plain)) << "'" << w << "'";
    }
  }
}

// The test's own reading: line by line, polygons fanned, negative numbers
// counted back.
bool plainRead(const std::string& text, Mesh& m) {
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::istringstream l(line);
    std::string kind;
    l >> kind;
    if (kind == "v") {
      for (int i = 0; i < 3; ++i) {
        std::string w;
        l >> w;
        float f;
        if (!readCoordinatePlain(w, f)) return false;
        m.positions.push_back(f);
      }
    } else if (kind == "f") {
      std::vector<long long> c;
      for (std::string w; l >> w;) {
        long long k = std::stoll(w.substr(0, w.find('/')));
        if (k < 0) k += (long long)(m.positions.size() / 3) + 1;
        c.push_back(k - 1);
      }
      for (std::size_t i = 2; i < c.size(); ++i)
        for (long long k : {c[0], c[i - 1], c[i]}) m.indices.push_back(unsigned(k));
    }
  }
  for (unsigned k : m.indices)
    if (k >= m.positions.size() / 3) return false;
  return true;
}

// A few megabytes of vertex and face lines in the forms files use.
std::string generatedObj(std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::ostringstream o;
  o << "# generated\nmtllib x.mtl\n";
  int vertices = 0;
  for (int i = 0; i < 60000; ++i) {
    const int kind = int(rng() % 10);
    if (kind < 5 || vertices < 5) {
      o << "v " << double(rng() % 200000) / 1000.0 - 100 << " " << double(rng() % 2000) / 7.0 << "\t"
        << -double(rng() % 3000) / 3.0;
      if (rng() % 2) o << " 0.5 0.25 1";
      o << (rng() % 7 == 0 ? "\r\n" : "\n");
      ++vertices;
    } else if (kind < 9) {
      const int corners = 3 + int(rng() % 3);
      o << "f";
      for (int c = 0; c < corners; ++c) {
        const int k = 1 + int(rng() % unsigned(vertices));
        if (rng() % 6 == 0)
          o << " " << k - vertices - 1;  // counted back
        else
          o << " " << k;
        if (rng() % 3 == 0) o << "/" << k << "/" << k;
      }
      o << "\n";
    } else {
      o << (rng() % 2 ? "vt 0.5 0.5\n" : "usemtl m\n");
    }
  }
  return o.str();
}

TEST(SimplifierReading, PiecesReadSideBySideGiveThePlainReading) {
  const auto dir = std::filesystem::temp_directory_path() / ("simp_read_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  for (std::uint64_t seed : {1u, 2u, 3u}) {
    std::string text = generatedObj(seed);
    while (text.size() < (std::size_t(3) << 20)) text += text.substr(text.find('f'));  // more pieces
    Mesh want;
    ASSERT_TRUE(plainRead(text, want));
    Mesh fromText, fromFile;
    std::string why;
    ASSERT_TRUE(parseObjText(text, fromText, why)) << why;
    const std::string name = (dir / "m.obj").string();
    std::ofstream(name, std::ios::binary) << text;
    ASSERT_TRUE(readObjFile(name, fromFile, why)) << why;
    EXPECT_EQ(fromText.positions, want.positions);
    EXPECT_EQ(fromText.indices, want.indices);
    EXPECT_EQ(fromFile.positions, want.positions);
    EXPECT_EQ(fromFile.indices, want.indices);
  }
  std::filesystem::remove_all(dir);
}

TEST(SimplifierReading, BadLinesAreToldWithTheirLineNumber) {
  struct Case {
    std::string text, why;
  } cases[] = {
      {"v 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 x 0\n", "line 4: a vertex line that is not three numbers"},
      {"v 0 0 0\nv 1 0 0\n\nf 1 2 a\n", "line 4: a face corner that is not a vertex number"},
      {"v 0 0 0\nv 1 0 0\nf 1 2 0\n", "line 3: a face corner that is not a vertex number"},
      {"v 0 0 0\nv 1 0 0\nf 1 2 3\n", "a face names a vertex that does not exist (3)"},
      {"v 0 0 0\nv 1 0 0\nf 1 2 -3\n", "a face names a vertex that does not exist (-3)"},
      {"v 0 0 0\nf 1 1 99999999999\n", "a face names a vertex that does not exist (99999999999)"},
  };
  for (const Case& c : cases) {
    // Alone, and behind enough lines that the bad one falls in a later
    // piece.
    constexpr int kPadding = 150000;  // about 4 MB: several pieces
    std::string padding;
    for (int i = 0; i < kPadding; ++i) padding += "# a comment line, padding\n";
    for (const std::string& text : {c.text, padding + c.text}) {
      Mesh m;
      std::string why;
      EXPECT_FALSE(parseObjText(text, m, why)) << c.text;
      std::string want = c.why;
      if (text.size() > c.text.size() && want.rfind("line ", 0) == 0)
        want = "line " + std::to_string(kPadding + std::stoi(want.substr(5))) + want.substr(want.find(':'));
      EXPECT_EQ(why, want);
    }
  }
}

TEST(SimplifierWriting, LinesReadBackAsTheSameNumbers) {
  const std::vector<float> positions = {0.1f, -2.5e-7f, 123456.78f, 1.0f / 3.0f, -0.0f, 3.0e38f};
  const std::vector<unsigned> indices = {0, 1, 1, 1, 0, 0};
  std::string text;
  for (const std::string& part : objText(positions, indices)) text += part;
  char first[100];
  std::snprintf(first, sizeof first, "v %.9g %.9g %.9g", double(positions[0]), double(positions[1]), double(positions[2]));
  EXPECT_EQ(text.substr(0, text.find('\n')), first);
  Mesh back;
  std::string why;
  ASSERT_TRUE(parseObjText(text, back, why)) << why;
  for (std::size_t i = 0; i < positions.size(); ++i) EXPECT_EQ(bitsOf(back.positions[i]), bitsOf(positions[i]));
  EXPECT_EQ(back.indices, indices);
}

}  // namespace
}  // namespace simp
