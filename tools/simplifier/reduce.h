#pragma once
// The reduction itself: meshoptimizer's quadric simplifier with the border
// locked, on the whole model or in blocks side by side.
#include <cstddef>
#include <vector>

#include "obj_mesh.h"

namespace simp {

// Blocks this small keep the simplifier's working data in the processor's
// caches (it takes about half the time per triangle on 40,000-triangle
// blocks that it takes on a whole 4,000,000-triangle scan).
constexpr std::size_t kTrianglesPerBlock = 40000;
// How far above the target the first round of blocks stops.
constexpr double kFirstRoundRoom = 1.2;

// The model's triangles reduced to about `target` indices (no error bound:
// the count decides), its borders kept where they are, vertices at one
// position taken as one. A model of more than `perBlock` triangles is cut
// into blocks of about that many, reduced side by side with their cut
// edges locked, in two rounds: first a little above the target, then with
// the cuts moved by half a block to the target, which frees the first
// round's cut edges. The result names the model's vertices.
std::vector<unsigned> reduceMesh(const Mesh& mesh, std::size_t target, std::size_t perBlock);

}  // namespace simp
