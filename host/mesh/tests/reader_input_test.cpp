// Bad input for the mesh readers: special files where a model, library,
// options file or picture is expected, inputs that multiply (polygon
// corners, texture coordinates that wrap the picture, repeated materials
// and libraries), numbers beyond a float, conversions that yield nothing,
// and file names handed whole to the command interpreter.
#include <sys/stat.h>
#include <unistd.h>

#include <QImage>

#include <filesystem>
#include <functional>

#include "host/mesh/tests/mesh_fixture.h"

using namespace ph;
using namespace ph::test;

namespace {

const char kTriangle[] = "v 0 0 0\nv 10 0 0\nv 0 10 0\nf 1 2 3\n";

struct ReaderInput_ : MeshTest {
  // Makes `name` in the scratch folder the kind of special file asked for.
  void makeSpecial(const std::string& kind, const std::string& name) {
    const std::string path = at(name);
    std::filesystem::remove_all(path);
    if (kind == "fifo") {
      ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    } else if (kind == "/dev/zero") {
      std::filesystem::create_symlink("/dev/zero", path);
    } else if (kind == "folder") {
      std::filesystem::create_directories(path);
    } else if (kind == "link to a fifo") {
      ASSERT_EQ(mkfifo(at("the.fifo").c_str(), 0600), 0);
      std::filesystem::create_symlink(at("the.fifo"), path);
    } else if (kind == "link to a folder") {
      std::filesystem::create_directories(at("the folder"));
      std::filesystem::create_symlink(at("the folder"), path);
    }
  }
  bool convertedExists() const { return std::filesystem::exists(at("convertedobj.stl")); }
};

}  // namespace

// Every reader opens only regular files: a FIFO, a device or a folder (or a
// link to one) is refused at once with a message, never waited on or read
// for ever. A model or library ends the conversion; an options file or a
// picture is told and the model is converted without it.
TEST_F(ReaderInput_, SpecialFilesAreRefusedByEveryReaderWithAMessage) {
  const char* kinds[] = {"fifo", "/dev/zero", "folder", "link to a fifo", "link to a folder"};
  struct Reader {
    const char* what;
    const char* special;  // the name made special
    std::function<void(const std::string& folder)> setUp;
    bool converts;  // the model is still converted
  };
  const Reader readers[] = {
      {"OBJ model", "m.obj", [](const std::string&) {}, false},
      {"MTL library", "s.mtl", [](const std::string& d) { writeText((d + "/" "m.obj"), std::string("mtllib s.mtl\n") + kTriangle); }, false},
      {"MTL options file", "s.mtlo",
       [](const std::string& d) {
         writeText((d + "/" "s.mtl"), "newmtl a\nKd 1 0 0\n");
         writeText((d + "/" "m.obj"), std::string("mtllib s.mtl\nusemtl a\n") + kTriangle);
       },
       true},
      {"texture", "skin.jpg",
       [](const std::string& d) {
         writeText((d + "/" "s.mtl"), "newmtl a\nKd 1 0 0\nmap_Kd skin.jpg\n");
         writeText((d + "/" "m.obj"), std::string("mtllib s.mtl\nusemtl a\nvt 0 0\n") +
                                      "v 0 0 0\nv 10 0 0\nv 0 10 0\nf 1/1 2/1 3/1\n");
       },
       true},
      {"PLY model", "m.ply", [](const std::string&) {}, false},
      {"3MF package", "m.3mf", [](const std::string&) {}, false},
      {"unpacked 3MF model part", "m.model", [](const std::string&) {}, false},
  };
  for (const Reader& r : readers) {
    for (const char* kind : kinds) {
      SCOPED_TRACE(std::string(r.what) + " as " + kind);
      std::filesystem::remove_all(dir);
      std::filesystem::create_directories(dir);
      core.Memo1.clear();
      r.setUp(dir);
      makeSpecial(kind, r.special);
      const std::string model = std::string(r.special).find("m.") == 0 ? r.special : "m.obj";
      EXPECT_EQ(convert(model), r.converts);
      EXPECT_EQ(convertedExists(), r.converts);
      const bool told = logHas("not a regular file") || logHas("a folder");
      EXPECT_TRUE(told);
      if (!told)
        for (const auto& l : log()) ADD_FAILURE() << l;
    }
  }
  // /dev/zero itself, as the model the operator chose.
  core.Memo1.clear();
  EXPECT_FALSE(tools.runObjFile("/dev/zero"));
  EXPECT_TRUE(logHas("cannot read from file: /dev/zero (not a regular file)"));
  // The PLY menu reads its own file.
  core.Memo1.clear();
  makeSpecial("fifo", "temp.ply");
  EXPECT_FALSE(tools.plyToStl(at("temp.ply"), at("fromply.stl")));
  EXPECT_TRUE(logHas("not a regular file"));
}

TEST_F(ReaderInput_, ALineLongerThanTheLimitIsRefusedWithItsNumber) {
  writeText(at("long.obj"), "v 0 0 0\n# " + std::string(kMaxLineBytes + 10, 'x') + "\n" + kTriangle);
  EXPECT_FALSE(convert("long.obj"));
  EXPECT_TRUE(logHas(at("long.obj") + " line 2: longer than 1000000 characters, the limit of a line"));
  EXPECT_FALSE(convertedExists());
  // The same in the library.
  core.Memo1.clear();
  writeText(at("s.mtl"), "newmtl a\n" + std::string(kMaxLineBytes + 1, 'K'));
  writeText(at("m.obj"), std::string("mtllib s.mtl\n") + kTriangle);
  EXPECT_FALSE(convert("m.obj"));
  EXPECT_TRUE(logHas(at("s.mtl") + " line 2: longer than 1000000 characters"));
}

TEST_F(ReaderInput_, AByteOrderMarkBeforeTheFirstLineIsSkipped) {
  writeText(at("s.mtl"), "\xEF\xBB\xBFnewmtl red\nKd 1 0 0\n");
  writeText(at("m.obj"), "\xEF\xBB\xBFmtllib s.mtl\nusemtl red\n" + std::string(kTriangle));
  ASSERT_TRUE(convert("m.obj"));
  const ReadStl s = converted();
  ASSERT_EQ(s.facets.size(), 1u);
  EXPECT_EQ(r5(s.facets[0].attribute), 31);
  EXPECT_EQ(g5(s.facets[0].attribute), 0);
  EXPECT_FALSE(logHas("material not found"));
}

// A face without colour from any source is written without colour (bit 15
// clear), whichever reader read it, so the slicer's default colour applies.
TEST_F(ReaderInput_, FacesWithoutAnyColourAreWrittenWithoutColourByEveryReader) {
  const struct {
    const char* file;
    std::string text;
  } cases[] = {
      {"plain.obj", kTriangle},
      {"nokd.obj", std::string("mtllib n.mtl\nusemtl a\n") + kTriangle},
      {"plain.ply", "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\nproperty float z\n"
                    "element face 1\nproperty list uchar int vertex_indices\nend_header\n0 0 0\n10 0 0\n0 10 0\n3 0 1 2\n"},
      {"plain.model",
       "<model unit=\"millimeter\" xmlns=\"http://schemas.microsoft.com/3dmanufacturing/core/2015/02\"><resources>"
       "<object id=\"1\"><mesh><vertices><vertex x=\"0\" y=\"0\" z=\"0\"/><vertex x=\"10\" y=\"0\" z=\"0\"/>"
       "<vertex x=\"0\" y=\"10\" z=\"0\"/></vertices><triangles><triangle v1=\"0\" v2=\"1\" v3=\"2\"/></triangles>"
       "</mesh></object></resources><build><item objectid=\"1\"/></build></model>"},
  };
  writeText(at("n.mtl"), "newmtl a\nd 1\n");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    writeText(at(c.file), c.text);
    ASSERT_TRUE(convert(c.file));
    const ReadStl s = converted();
    ASSERT_EQ(s.facets.size(), 1u);
    EXPECT_EQ(s.facets[0].attribute, 0);
  }
  // An unknown material name still gives grey, as before.
  writeText(at("grey.obj"), std::string("usemtl nowhere\n") + kTriangle);
  ASSERT_TRUE(convert("grey.obj"));
  EXPECT_EQ(converted().facets.at(0).attribute, 0x8000 | 16 << 10 | 16 << 5 | 16);
}

TEST_F(ReaderInput_, CoordinatesBeyondAFloatAreRefusedNamingTheFileAndLine) {
  const struct {
    const char* file;
    std::string text;
    std::string told;
  } cases[] = {
      {"big.obj", "v 0 0 0\nv 1e39 0 0\nv 0 1 0\nf 1 2 3\n", "big.obj line 2: a coordinate beyond the range of a float"},
      {"bigvt.obj", std::string("vt 0 -1e300\n") + kTriangle, "bigvt.obj line 1: a texture coordinate beyond"},
      {"big.ply",
       "ply\nformat ascii 1.0\nelement vertex 3\nproperty double x\nproperty float y\nproperty float z\n"
       "element face 1\nproperty list uchar int vertex_indices\nend_header\n0 0 0\n1e300 0 0\n0 1 0\n3 0 1 2\n",
       "big.ply: line 2: vertex 1: a coordinate beyond the range of a float"},
      {"big.model",
       "<model xmlns=\"http://schemas.microsoft.com/3dmanufacturing/core/2015/02\"><resources>\n"
       "<object id=\"1\"><mesh><vertices>\n<vertex x=\"0\" y=\"1e300\" z=\"0\"/></vertices></mesh></object>"
       "</resources><build/></model>",
       "/3D/big.model line 3: object 1 vertex 0: x, y and z must be numbers within the range of a float"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    core.Memo1.clear();
    writeText(at(c.file), c.text);
    EXPECT_FALSE(convert(c.file));
    EXPECT_FALSE(convertedExists());
    EXPECT_TRUE(logHas(c.told));
  }
}

TEST_F(ReaderInput_, AConversionThatYieldsNoFacetIsAFailure) {
  for (const char* text : {"", "v 0 0 0\nv 1 0 0\nv 0 1 0\n", "# nothing\n\x01\x02\x03 garbage\n"}) {
    SCOPED_TRACE(text);
    core.Memo1.clear();
    writeText(at("empty.obj"), text);
    EXPECT_FALSE(convert("empty.obj"));
    EXPECT_FALSE(convertedExists());
    EXPECT_TRUE(logHas(at("empty.obj") + " holds no faces"));
  }
}

// ---- inputs that multiply ----

TEST_F(ReaderInput_, PolygonsThatExpandPastTheFaceLimitAreRefused) {
  tools.state.model.faceLimit = 1000;
  std::string obj;
  for (int i = 0; i < 255; ++i) obj += "v " + std::to_string(i) + " " + std::to_string(i % 7) + " 0\n";
  std::string face = "f";
  for (int i = 1; i <= 255; ++i) face += " " + std::to_string(i);
  for (int k = 0; k < 5; ++k) obj += face + "\n";  // 5 x 253 triangles
  writeText(at("corners.obj"), obj);
  EXPECT_FALSE(convert("corners.obj"));
  EXPECT_TRUE(logHas("corners.obj line 259: more than 1000 triangles, the limit of a model"));

  std::string ply = "ply\nformat ascii 1.0\nelement vertex 255\nproperty float x\nproperty float y\nproperty float z\n"
                    "element face 5\nproperty list uchar int vertex_indices\nend_header\n";
  for (int i = 0; i < 255; ++i) ply += std::to_string(i) + " " + std::to_string(i % 7) + " 0\n";
  for (int k = 0; k < 5; ++k) {
    ply += "255";
    for (int i = 0; i < 255; ++i) ply += " " + std::to_string(i);
    ply += "\n";
  }
  writeText(at("corners.ply"), ply);
  core.Memo1.clear();
  EXPECT_FALSE(convert("corners.ply"));
  EXPECT_TRUE(logHas("face 3: more than 1000 triangles, the limit of a model"));
  EXPECT_FALSE(convertedExists());
}

// Texture coordinates up to 1e4 wrap a small picture ten thousand times
// each way; the face's split and scan stay in proportion to the picture
// (before, the STL of this 8 x 8 picture would take tens of millions of
// facets and hours).
TEST_F(ReaderInput_, ATextureSplitIsBoundedByThePicturesOwnSize) {
  QImage tex(8, 8, QImage::Format_RGB32);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) tex.setPixelColor(x, y, (x + y) % 2 ? QColor(255, 0, 0) : QColor(0, 0, 255));
  ASSERT_TRUE(tex.save(QString::fromStdString(at("check.png")), "PNG"));
  writeText(at("t.mtl"), "newmtl t\nmap_Kd check.png\n");
  writeText(at("wrap.obj"), "mtllib t.mtl\nusemtl t\nv 0 0 0\nv 100 0 0\nv 0 100 0\n"
                            "vt 0 0\nvt 10000 0\nvt 0 10000\nf 1/1 2/2 3/3\n");
  ASSERT_TRUE(convert("wrap.obj"));
  // At most 2 x 64 / 5 + 16 splits of the one face.
  EXPECT_LE(converted().facets.size(), 2u * 64 / 5 + 16 + 1);
  EXPECT_GT(converted().facets.size(), 1u);

  // A total beyond the limit is refused with the limit named.
  tools.state.model.faceLimit = 10;
  core.Memo1.clear();
  EXPECT_FALSE(convert("wrap.obj"));
  EXPECT_TRUE(logHas("more than 10 facets, the limit of a model; not written"));
  EXPECT_FALSE(convertedExists());
}

// Repeated material names and libraries: looked up by name, said once.
// (Before, 20,000 copies compared every pair: far past a minute.)
TEST_F(ReaderInput_, RepeatedMaterialsAndLibrariesAreSaidOnceAndReadInLinearTime) {
  std::string mtl;
  for (int i = 0; i < 20000; ++i) mtl += "newmtl same\nKd " + std::string(i ? "0 0 1" : "1 0 0") + "\n";
  writeText(at("dup.mtl"), mtl);
  std::string obj;
  for (int i = 0; i < 20000; ++i) obj += "mtllib dup.mtl\n";
  writeText(at("dup.obj"), obj + "usemtl same\n" + kTriangle);
  ASSERT_TRUE(convert("dup.obj"));
  int duplicates = 0, repeats = 0;
  for (const auto& l : log()) {
    duplicates += l == "ERROR duplicate material: same";
    repeats += l.find("dup.mtl is read already") != std::string::npos;
  }
  EXPECT_EQ(duplicates, 1);
  EXPECT_EQ(repeats, 1);
  // The first definition wins.
  EXPECT_EQ(r5(converted().facets.at(0).attribute), 31);
}

TEST_F(ReaderInput_, MaterialsSharingAPictureDecodeItOnce) {
  QImage tex(4, 4, QImage::Format_RGB32);
  tex.fill(QColor(0, 255, 0));
  ASSERT_TRUE(tex.save(QString::fromStdString(at("one.jpg")), "JPG"));
  std::string mtl;
  for (int i = 0; i < 8; ++i) mtl += "newmtl m" + std::to_string(i) + "\nmap_Kd one.jpg\n";
  writeText(at("s.mtl"), mtl);
  ASSERT_TRUE(loadText("mtllib s.mtl\n"));
  const auto& mats = tools.state.model.materials;
  ASSERT_EQ(mats.size(), 8u);
  for (const auto& m : mats) EXPECT_EQ(m.texture.constBits(), mats[0].texture.constBits());
}

// ---- file names as whole words ----

TEST_F(ReaderInput_, FileNamesReachTheInterpreterWholeWhateverTheyHoldOrHowLong) {
  // A name that reads like more options when split at blanks and quotes.
  const std::string odd = "a\" -Devil b.obj";
  writeText(at(odd), kTriangle);
  tools.meshCommand({"meshkit", "-S1", "-O" + at(odd), "-D" + dir});
  EXPECT_TRUE(convertedExists());
  EXPECT_EQ(core.s.file_folder, dir);
  EXPECT_FALSE(std::filesystem::exists("evil"));
  EXPECT_FALSE(std::filesystem::exists(at("evil")));

  // A path longer than 999 characters.
  std::string deep = dir;
  while (deep.size() < 1100) deep += "/" + std::string(60, 'd');
  std::filesystem::create_directories(deep);
  writeText(deep + "/m.obj", kTriangle);
  std::filesystem::remove(at("convertedobj.stl"));
  tools.meshCommand({"meshkit", "-O" + deep + "/m.obj", "-D" + deep});
  EXPECT_EQ(core.s.file_folder, deep);
  EXPECT_TRUE(std::filesystem::exists(deep + "/convertedobj.stl"));
}
