// mesh_bench subcommands of the OBJ reduction:
//
//   mesh_bench colours SOURCE.obj REDUCED.obj OUT.obj
//       the colour transfer of the menu "objreduce" (its histogram goes to
//       temp.gfk beside OUT.obj)
//   mesh_bench scan OUT.obj VERTICES [flat]
//       a vertex-coloured scan: a closed bumpy head-sized surface, or with
//       "flat" a relief whose vertices all lie within 3 units of one height
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <numbers>
#include <random>
#include <string>

#include "host/core/paths.h"
#include "host/core/testing/core_fixture.h"
#include "host/mesh/mesh_tools.h"
#include "host/mesh/testing/fake_mesh_host.h"
#include "host/mesh/obj_reduce.h"
#include "host/scantools/obj_cloud_tools.h"
#include "tools/bench/mesh_bench_commands.h"

namespace {

int colours(int argc, char** argv) {
  if (argc != 4) return 2;
  ph::CoreFixture f;
  ph::ColourTransferFiles files{argv[1], argv[2], argv[3], ph::parentDir(argv[3]) + "/temp.gfk"};
  int fallbacks = 0;
  const auto start = std::chrono::steady_clock::now();
  const bool ok = ph::transferColours(f.core, files, fallbacks);
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  for (const auto& line : f.log()) std::fprintf(ok ? stdout : stderr, "%s\n", line.c_str());
  std::printf("colours: %s onto %s in %.3f s (%d fallbacks)\n", argv[1], argv[2], s, fallbacks);
  return ok ? 0 : 1;
}

// A grid of rows x columns vertices on a surface, as two triangles per
// quad; rows wrap around (closed) unless flat.
int scan(int argc, char** argv) {
  if (argc < 3) return 2;
  const long want = std::atol(argv[2]);
  const bool flat = argc > 3 && std::string(argv[3]) == "flat";
  const int rows = std::max(4, int(std::sqrt(double(want) / 2.0)));
  const int cols = std::max(4, int(want / rows));
  std::FILE* f = std::fopen(argv[1], "w");
  if (!f) return 1;
  std::fprintf(f, "# scan\n");
  const double pi = std::numbers::pi;
  for (int i = 0; i < rows; ++i) {
    for (int j = 0; j < cols; ++j) {
      double x, y, z;
      if (flat) {
        x = 200.0 * j / cols;
        y = 200.0 * i / rows;
        z = 1.5 + 1.5 * std::sin(x * 0.3) * std::cos(y * 0.2);
      } else {
        // A closed tube capped by its poles: a head-sized ellipsoid.
        const double th = pi * (i + 0.5) / rows, ph = 2.0 * pi * j / cols;
        const double r = 80.0 + 3.0 * std::sin(7 * th) * std::cos(5 * ph);
        x = r * std::sin(th) * std::cos(ph);
        y = 0.8 * r * std::sin(th) * std::sin(ph);
        z = 1.3 * r * std::cos(th);
      }
      std::fprintf(f, "v %.4f %.4f %.4f %.4f %.4f %.4f\n", x, y, z, 0.5 + 0.5 * std::sin(x * 0.1),
                   0.5 + 0.5 * std::cos(y * 0.1), 0.5 + 0.5 * std::sin(z * 0.05));
    }
  }
  const int wrap = flat ? cols - 1 : cols;
  for (int i = 0; i + 1 < rows; ++i)
    for (int j = 0; j < wrap; ++j) {
      const int a = i * cols + j + 1, b = i * cols + (j + 1) % cols + 1, c = a + cols, d = b + cols;
      std::fprintf(f, "f %d %d %d\nf %d %d %d\n", a, c, b, b, c, d);
    }
  std::fclose(f);
  std::printf("%s: %d vertices\n", argv[1], rows * cols);
  return 0;
}

double seconds(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}
// Processor seconds of the whole process (all threads) since `c`.
double cpuSeconds(std::clock_t c) { return double(std::clock() - c) / CLOCKS_PER_SEC; }

int cloudTools(int argc, char** argv) {
  if (argc != 3) return 2;
  const std::string folder = argv[1];
  const long n = std::atol(argv[2]);
  std::mt19937 rng(1);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  {
    std::FILE* ref = std::fopen((folder + "/cloud0.obj").c_str(), "w");
    std::FILE* mov = std::fopen((folder + "/cloud2a.obj").c_str(), "w");
    std::FILE* pts = std::fopen((folder + "/nearpoints.txt").c_str(), "w");
    if (!ref || !mov || !pts) return 1;
    for (long i = 0; i < n; ++i) {
      double x = u(rng), y = u(rng), z = u(rng);
      const double len = std::sqrt(x * x + y * y + z * z) + 1e-9;
      x = x / len * 100.0;
      y = y / len * 80.0;
      z = z / len * 120.0;
      std::fprintf(ref, "v %.4f %.4f %.4f\n", x, y, z);
      std::fprintf(mov, "v %.4f %.4f %.4f\n", x + 1.0, y - 0.5, z + 0.3);
      std::fprintf(pts, "%.4f,%.4f,%.4f\n", 150.0 * u(rng), 150.0 * u(rng), 150.0 * u(rng));
    }
    std::fclose(ref);
    std::fclose(mov);
    std::fclose(pts);
  }
  char count[32];
  std::snprintf(count, sizeof count, "%ld", n / 2);
  const std::string model = folder + "/nearmodel.obj";
  char* scanArgs[] = {argv[0], const_cast<char*>(model.c_str()), count};
  if (scan(3, scanArgs) != 0) return 1;
  ph::CoreFixture f;
  f.core.s.file_folder = folder;
  ph::FakeMeshHost host;
  ph::MeshTools tools(f.core, host);
  ph::ObjCloudTools objc(f.core, tools);
  auto t = std::chrono::steady_clock::now();
  auto c = std::clock();
  const bool matched = objc.matchCloudsStep();
  std::printf("matchclouds: %zu points, one step in %.3f s, %.3f s CPU (load included)\n", objc.movingCloud.size(),
              seconds(t), cpuSeconds(c));
  t = std::chrono::steady_clock::now();
  c = std::clock();
  const bool wiped = objc.wipeNearFaces();
  std::printf("nearpoints: %ld points against the model in %.3f s, %.3f s CPU\n", n, seconds(t), cpuSeconds(c));
  t = std::chrono::steady_clock::now();
  c = std::clock();
  const bool welded = objc.weldObj(model, "welded");
  std::printf("Weld_obj: the model in %.3f s, %.3f s CPU\n", seconds(t), cpuSeconds(c));
  if (!matched || !wiped || !welded)
    for (const auto& line : f.log()) std::fprintf(stderr, "%s\n", line.c_str());
  return matched && wiped && welded ? 0 : 1;
}

bench::RegisterMeshBenchCommand coloursCommand("colours", "SOURCE.obj REDUCED.obj OUT.obj", colours);
bench::RegisterMeshBenchCommand scanCommand("scan", "OUT.obj VERTICES [flat]", scan);
bench::RegisterMeshBenchCommand cloudToolsCommand("cloudtools", "FOLDER COUNT", cloudTools);

}  // namespace
