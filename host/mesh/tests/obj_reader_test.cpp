// The OBJ and MTL reader: faces and fans, texture coordinates, vertex
// colours, materials, textures and the lines it refuses.
#include <QImage>
#include <QPainter>

#include <filesystem>
#include <fstream>

#include "host/mesh/mesh_pictures.h"
#include "host/mesh/tests/mesh_fixture.h"

using namespace ph;
using namespace ph::test;

namespace {

struct ObjReader_ : MeshTest {
  const ObjModel& model() const { return tools.state.model; }
  // Faces in reading order as vertex-position x triples (the test models
  // put vertex n at x = n).
  std::vector<std::array<double, 3>> faceXs() const {
    std::vector<std::array<double, 3>> out;
    for (const auto& f : model().faces) out.push_back({f.positions[0].x, f.positions[1].x, f.positions[2].x});
    return out;
  }
};

const char* kFiveVertices = "v 1 0 0\nv 2 0 0\nv 3 1 0\nv 4 1 1\nv 5 0 1\n";

// A picture of one colour, saved in the format the name's extension says.
void writePicture(const std::string& path, QColor colour, const char* format, bool transparent = false) {
  QImage img(8, 8, transparent ? QImage::Format_ARGB32 : QImage::Format_RGB32);
  img.fill(transparent ? QColor(0, 0, 0, 0) : colour);
  ASSERT_TRUE(img.save(QString::fromStdString(path), format));
}

// An uncompressed 2 x 2 true-colour TGA (Qt reads TGA but does not write it).
void writeTga(const std::string& path, unsigned char r, unsigned char g, unsigned char b) {
  std::string bytes(18, '\0');
  bytes[2] = 2;  // uncompressed true colour
  bytes[12] = 2;
  bytes[14] = 2;
  bytes[16] = 24;
  for (int i = 0; i < 4; ++i) bytes += {char(b), char(g), char(r)};
  bytes += std::string(8, '\0') + "TRUEVISION-XFILE." + '\0';  // the TGA 2.0 footer
  writeText(path, bytes);
}

}  // namespace

TEST_F(ObjReader_, PolygonsAreFansAroundTheirFirstVertex) {
  struct Case {
    const char* faces;
    std::vector<std::array<double, 3>> triangles;
  } cases[] = {
      {"f 1 2 3 4\n", {{1, 2, 3}, {1, 3, 4}}},
      {"vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nvt 0.5 0.5\nf 1/1 2/2 3/3 4/4 5/5\n", {{1, 2, 3}, {1, 3, 4}, {1, 4, 5}}},
      // A line ending in "\" goes on in the next one.
      {"f 1 2 3 \\\n4\n", {{1, 2, 3}, {1, 3, 4}}},
      // Negative numbers count back from the last vertex read.
      {"f -5 -4 -3\n", {{1, 2, 3}}},
  };
  for (const auto& c : cases) {
    tools.reader.freeObj();
    ASSERT_TRUE(loadText(std::string(kFiveVertices) + c.faces)) << c.faces;
    EXPECT_EQ(faceXs(), c.triangles) << c.faces;
  }
}

TEST_F(ObjReader_, TextureCoordinatesAndNormalsOfFaceCorners) {
  ASSERT_TRUE(loadText(std::string(kFiveVertices) + "vt 0.25 0.5\nvt 0.75 1\nvn 0 0 1\nf 1/1/1 2/2/1 3/-1/1\nf 3//1 4//1 5//1\n"));
  const auto& a = model().faces[0];
  EXPECT_EQ(a.vt[0], 1);
  EXPECT_EQ(a.vt[2], 2);
  EXPECT_EQ(a.uv[1].u, 0.75f);
  EXPECT_EQ(a.uv[0].v, 0.5f);
  const auto& b = model().faces[1];
  EXPECT_EQ(b.positions[2].x, 5.0);
  EXPECT_EQ(b.vt[0], 0);
  EXPECT_EQ(b.uv[0].u, 0.0f);
}

TEST_F(ObjReader_, VertexColoursOnEitherScaleGiveTheFaceColour) {
  struct Case {
    const char* colour;
    int expected;
  } cases[] = {
      {"0.5 0.25 1.0", 127 | 63 << 8 | 255 << 16},
      {"128 64 255", 128 | 64 << 8 | 255 << 16},
      // Out of range: clamped, never wrapped into the next channel.
      {"300 -5 1e9", 255 | 0 << 8 | 255 << 16},
  };
  for (const auto& c : cases) {
    tools.reader.freeObj();
    const std::string v = std::string(" ") + c.colour + "\n";
    ASSERT_TRUE(loadText("v 0 0 0" + v + "v 1 0 0" + v + "v 0 1 0" + v + "f 1 2 3\n"));
    ASSERT_TRUE(model().hasVertexColors);
    EXPECT_EQ(model().faces[0].colour, c.expected) << c.colour;
  }
  // On the 0..1 scale a component above 1 counts as 1.
  tools.reader.freeObj();
  ASSERT_TRUE(loadText("v 0 0 0 1.5 0 0\nv 1 0 0 1.5 0 0\nv 0 1 0 1.5 0 0\nf 1 2 3\n"));
  EXPECT_EQ(model().faces[0].colour, 255);
}

TEST_F(ObjReader_, VerticesBeforeTheFirstColouredOneCountAsBlack) {
  ASSERT_TRUE(loadText("v 0 0 0\nv 1 0 0 90 90 90\nv 0 1 0 90 90 90\nv 0 0 1 0.5\nf 1 2 3\nf 2 3 4\n"));
  EXPECT_EQ(model().faces[0].colour, 60 | 60 << 8 | 60 << 16);
  // "v x y z w": the weight is no colour; the vertex gets black.
  EXPECT_EQ(model().faces[1].colour, 60 | 60 << 8 | 60 << 16);
  EXPECT_EQ(model().faces[1].vertex[2], 4);
}

TEST_F(ObjReader_, InsideOutSwapsCornersOneAndTwo) {
  tools.state.options.obj_file_is_Inside_Out = true;
  ASSERT_TRUE(loadText("v 1 0 0\nv 2 0 0\nv 3 0 0\nvt 0 0\nvt 1 0\nvt 1 1\nf 1/1 2/2 3/3\n"));
  const auto& f = model().faces[0];
  EXPECT_EQ(f.positions[1].x, 3.0);
  EXPECT_EQ(f.positions[2].x, 2.0);
  EXPECT_EQ(f.vt[1], 2);  // texture coordinates stay
}

TEST_F(ObjReader_, ScaleAppliesToOneLoadInSinglePrecision) {
  tools.state.scale = 2.5f;
  ASSERT_TRUE(loadText("v 0.1 1 2\nv 1 0 0\nv 0 1 0\nf 1 2 3\n"));
  EXPECT_EQ(model().allobjv[1].x, double(float(0.1 * 2.5)));
  EXPECT_EQ(model().allobjv[1].z, 5.0);
  EXPECT_EQ(tools.state.scale, 1.0f);
  EXPECT_TRUE(logHas("obj loaded"));
}

TEST_F(ObjReader_, FaceNumbersOutsideTheArraysAreRefusedNamingTheLine) {
  struct Case {
    const char* face;
    const char* message;
  } cases[] = {
      {"f 1 2 0", "model.obj line 7: vertex 0 does not exist (vertices 1 to 5 are read so far)"},
      {"f 1 2 6", "model.obj line 7: vertex 6 does not exist"},
      {"f 1 2 -6", "model.obj line 7: vertex -6 does not exist"},
      {"f 1 2", "model.obj line 7: a face needs at least three vertices"},
      {"f 1 2 x", "model.obj line 7: 'x' is not a vertex of a face"},
      {"f 1/1 2/1 3/2", "model.obj line 7: texture coordinate 2 does not exist (1 to 1 are read so far)"},
      {"f 1/1 2/1 3/0", "model.obj line 7: texture coordinate 0 does not exist"},
      {"f 1 2 99999999999", "model.obj line 7: '99999999999' is not a vertex of a face"},
  };
  for (const auto& c : cases) {
    tools.reader.freeObj();
    core.Memo1.clear();
    EXPECT_FALSE(loadText(std::string(kFiveVertices) + "vt 0 0\n" + c.face + "\n")) << c.face;
    EXPECT_TRUE(logHas(c.message)) << c.face << ": " << (log().empty() ? "" : log()[0]);
    EXPECT_FALSE(logHas("obj loaded"));
  }
}

TEST_F(ObjReader_, MalformedNumbersStopTheLoad) {
  for (const char* text : {"v 1 2\n", "v 1 2 abc\n", "v 1 2 3 0.5 0.5\n", "vt 0.5\n", "v nan 0 0\n"}) {
    tools.reader.freeObj();
    core.Memo1.clear();
    EXPECT_FALSE(loadText(text)) << text;
    EXPECT_TRUE(logHas("model.obj line 1: ")) << text;
  }
}

TEST_F(ObjReader_, TheVertexLimitStopsTheLoad) {
  tools.state.model.indexLimit = 5;
  EXPECT_FALSE(loadText(kFiveVertices));
  EXPECT_TRUE(logHas("too many vectors (max 5242880)"));
  EXPECT_TRUE(tools.meshAbort);
  EXPECT_EQ(model().idxv, 4);  // numbers 1..3: the limit minus two
}

TEST_F(ObjReader_, MaterialsByNameWithGreyForUnknownOnes) {
  writeText(at("m.mtl"),
            "newmtl red\nKd 1 0 0\nd 0.5\n"
            "newmtl red\nKd 0 1 0\n"
            "newmtl over\nKd 1.5 -0.5 0.5\n");
  ASSERT_TRUE(loadText(std::string(kFiveVertices) +
                       "f 1 2 3\nmtllib m.mtl\nusemtl red\nf 1 2 3\nusemtl nothing\nf 1 2 3\nusemtl over\nf 1 2 3\n"));
  EXPECT_TRUE(logHas("ERROR duplicate material: red"));
  EXPECT_TRUE(logHas("material not found: nothing"));
  const auto& faces = model().faces;
  EXPECT_EQ(tools.state.model.materialOf(faces[0]).Kd, 0);  // before any usemtl
  EXPECT_EQ(tools.state.model.materialOf(faces[1]).Kd, 0xFF);  // the first "red"
  EXPECT_EQ(tools.state.model.materialOf(faces[1]).dissolve, 0.5f);
  EXPECT_EQ(tools.state.model.materialOf(faces[2]).Kd, 0x808080);
  // Kd outside 0..1 is clamped, never carried into the next channel.
  EXPECT_EQ(tools.state.model.materialOf(faces[3]).Kd, 0xFF | 0 << 8 | 127 << 16);
}

TEST_F(ObjReader_, AMissingMaterialLibraryLeavesGreyAndRaisesNoPrintAbort) {
  ASSERT_TRUE(loadText(std::string(kFiveVertices) + "mtllib gone.mtl\nusemtl a\nf 1 2 3\n"));
  EXPECT_TRUE(logHas("cannot read from file: " + at("gone.mtl")));
  EXPECT_FALSE(core.abortRequested());
  EXPECT_EQ(tools.state.model.materialOf(model().faces[0]).Kd, 0x808080);
}

TEST_F(ObjReader_, TexturesAreLoadedOrToldOnceAndLeftOut) {
  writePicture(at("plain.jpg"), QColor(10, 200, 30), "JPG");
  writeText(at("broken.jpg"), "not a picture");
  writeText(at("m.mtl"),
            "newmtl a\nmap_Kd plain.jpg\n"
            "newmtl b\nmap_Kd gone.jpg\n"
            "newmtl c\nmap_Kd broken.jpg\n"
            "newmtl d\nmap_Kd layers.psd\n");
  ASSERT_TRUE(loadText("mtllib m.mtl\n"));
  const auto& mats = model().materials;
  ASSERT_EQ(mats.size(), 4u);
  EXPECT_TRUE(mats[0].hasTexture());
  EXPECT_EQ(mats[0].texture.format(), QImage::Format_RGB32);
  EXPECT_EQ(mats[0].textureFile, "plain.jpg");
  for (std::size_t i = 1; i < 4; ++i) EXPECT_FALSE(mats[i].hasTexture()) << i;
  EXPECT_EQ(ui.messages, (std::vector<std::string>{"no filegone.jpg", "unknow texture file type: layers.psd"}));
  EXPECT_TRUE(logHas("texture " + at("broken.jpg") + " cannot be read: its faces take the colour of material c"));
}

TEST_F(ObjReader_, PicturesOtherThanJpegAreReadWithoutLossLaidOnWhiteAndNoFileIsWritten) {
  // A picture with sharp edges: a lossy copy would change the colours there.
  QImage edges(16, 16, QImage::Format_RGB32);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) edges.setPixelColor(x, y, (x + y) % 2 ? QColor(255, 0, 0) : QColor(0, 0, 255));
  ASSERT_TRUE(edges.save(QString::fromStdString(at("a.tex.png")), "PNG"));
  writePicture(at("clear.png"), QColor(), "PNG", true);
  writeTga(at("t.tga"), 255, 0, 0);
  writePicture(at("s.tif"), QColor(0, 255, 0), "TIFF");
  writeText(at("bad.gif"), "GIF89a but nothing more");
  writeText(at("m.mtl"),
            "newmtl png\nmap_Kd a.tex.png\nnewmtl clear\nmap_Kd clear.png\nnewmtl tga\nmap_Kd t.tga\n"
            "newmtl tif\nmap_Kd s.tif\nnewmtl gif\nmap_Kd bad.gif\n");
  ASSERT_TRUE(loadText("mtllib m.mtl\n"));
  const auto& mats = model().materials;
  ASSERT_TRUE(mats[0].hasTexture());
  EXPECT_EQ(mats[0].textureFile, "a.tex.png");
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x)
      ASSERT_EQ(mats[0].texture.pixel(x, y), edges.pixel(x, y)) << x << "," << y;
  struct Case {
    const char* file;
    QColor colour;
  } cases[] = {{"clear.png", QColor(255, 255, 255)}, {"t.tga", QColor(255, 0, 0)}, {"s.tif", QColor(0, 255, 0)}};
  for (std::size_t i = 1; i < 4; ++i) {
    EXPECT_EQ(mats[i].textureFile, cases[i - 1].file);
    ASSERT_TRUE(mats[i].hasTexture()) << cases[i - 1].file;
    EXPECT_EQ(mats[i].texture.pixelColor(1, 1), cases[i - 1].colour) << cases[i - 1].file;
  }
  EXPECT_FALSE(mats[4].hasTexture());
  EXPECT_TRUE(logHas("texture " + at("bad.gif") + " cannot be read"));
  EXPECT_TRUE(ui.messages.empty());
  // Nothing was written beside the model (its folder may be read-only).
  for (const auto& e : std::filesystem::directory_iterator(dir))
    EXPECT_NE(e.path().extension(), ".jpg") << e.path();
}

TEST_F(ObjReader_, TheOptionsFileGivesContrastAndTextureOffsets) {
  writePicture(at("Skin.jpg"), QColor(1, 2, 3), "JPG");
  writeText(at("m.mtl"), "newmtl a\nmap_Kd Skin.jpg\n");
  writeText(at("m.mtlo"), "contrastpercentage\n150\nskin.jpg\n12,-3\n");
  ASSERT_TRUE(loadText("mtllib m.mtl\n"));
  EXPECT_EQ(tools.state.contrast, 150);
  EXPECT_EQ(model().materials[0].offsetX, 12);
  EXPECT_EQ(model().materials[0].offsetY, -3);
}

TEST_F(ObjReader_, TheTagOfATextureCoordinateIsTheLetterBeforeTheExtension) {
  writePicture(at("head_c.jpg"), QColor(1, 2, 3), "JPG");
  writeText(at("m.mtl"), "newmtl a\nmap_Kd head_c.jpg\n");
  ASSERT_TRUE(loadText(std::string(kFiveVertices) + "mtllib m.mtl\nvt 0 0\nvt 1 1\nf 1/1 2/1 3/1\nusemtl a\nf 1/2 2/2 3/2\n"));
  EXPECT_EQ(model().textureTags[1], ' ');
  EXPECT_EQ(model().textureTags[2], 'c');
}

TEST_F(ObjReader_, PrescanSizesTheArraysOnce) {
  writeText(at("model.obj"), "v 0 0 0 1 1 1\nv 1 0 0\nvt 0 0\nv 0 1 0\nf 1 2 3\n");
  std::FILE* f = std::fopen(at("model.obj").c_str(), "r");
  tools.reader.objPrescan(f);
  EXPECT_TRUE(logHas("Sizeallobjv=4 Sizeobjvt=2 Sizeallvtxcolor=4"));
  tools.state.workingFolder = dir;
  EXPECT_TRUE(tools.reader.loadObj(f, "model.obj"));  // rewound
  std::fclose(f);
  EXPECT_EQ(model().faces.size(), 1u);
}

TEST_F(ObjReader_, FreeObjSavesTheWorkingCopiesOnceEach) {
  writePicture(at("skin.jpg"), QColor(1, 2, 3), "JPG");
  writeText(at("m.mtl"), "newmtl a\nmap_Kd skin.jpg\nnewmtl b\nmap_Kd skin.jpg\n");
  tools.state.saveTextures = true;
  ASSERT_TRUE(loadText("mtllib m.mtl\n"));
  EXPECT_EQ(model().materials[0].workingCopy, model().materials[1].workingCopy);
  tools.reader.freeObj();
  EXPECT_TRUE(std::filesystem::exists(at("skin_a.jpg")));
  EXPECT_EQ(model().idxv, 1);
  EXPECT_TRUE(model().materials.empty());
}

TEST(MeshPictures, LoadImageConvertedTellsWhatIsMissing) {
  CoreFixture f;
  QImage img;
  EXPECT_FALSE(loadImageConverted(f.core, img, "/nonexistent/x.png"));
  EXPECT_EQ(f.ui.messages, std::vector<std::string>{"no file /nonexistent/x.png"});
}
