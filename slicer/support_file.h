#pragma once
// The support file beside a model (".sup"): one command per line that adds
// support blocks or voids, moves, turns or scales the model, or sets slicing
// values. Pass 0 runs before the facets are read, pass 1 after.
#include <string>
#include <vector>

#include "slicer/coloured_model.h"
#include "slicer/slice_values.h"

namespace lt {

// `count` numbers of a line from position `from`: each a run of digits and
// "-", ".", "E", "e" after any blanks; a run that does not convert counts 0.
std::vector<double> supportNumbers(const std::string& line, std::size_t from, int count);

// One command line (at most 80 characters are read). Lines the command does
// not take are ignored; a K index outside the palette is ignored with a note.
void applySupportLine(std::string line, int pass, SliceValues& values, ColouredModel& model,
                      std::vector<std::string>& notes);

enum class SupportFileRead { Applied, Missing, Failed };

// Every line of the file. A missing file is no error (Missing); one that
// cannot be read (not a regular file, too large, a read error) is Failed
// with `error`.
SupportFileRead applySupportFile(const std::string& path, int pass, SliceValues& values, ColouredModel& model,
                                 std::vector<std::string>& notes, std::string& error);

}  // namespace lt
