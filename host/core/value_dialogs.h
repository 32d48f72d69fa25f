#pragma once
// The small value dialogs of the host: numbers and switches edited as one
// comma-separated line, the float field dialog, the two-number dialog, and
// the pacing of the progress window of long computations.
#include <initializer_list>
#include <string>

namespace ph {

class HostCore;

// 1 to 99 shows or updates the progress window and lets waiting window
// events run at most once a second; any other value closes the window.
void showProgress(HostCore& core, int percent);

// Edits `count` ints as one line "a,b,c" in an input box; every item is an
// integer expression; missing items store 0.
void askIntArray(HostCore& core, int* array, const std::string& prompt, int count);

// A named variable of editIntValues / editBoolValues; a pair without a
// variable is left out.
struct IntValue {
  const char* name;
  int* value;
};
struct BoolValue {
  const char* name;
  bool* value;
};
// "enter integer values": the names as prompt, the values as "1 , 2".
// True when the answer differed from the proposal.
bool editIntValues(HostCore& core, std::initializer_list<IntValue> values);
// "enter boolean values": values as 1/0; an item is true only when it is "1".
void editBoolValues(HostCore& core, std::initializer_list<BoolValue> values);

// A plain decimal: an optional leading "-" (not alone), digits, at most one
// "." and only right behind a digit.
// It checks every change of a float field: valid text shows white and is
// kept, invalid text shows red and is never stored.
bool isFloatText(const std::string& text);
// A dialog of labelled float fields, one per ","-separated name (at most 10,
// and only names that have a variable). Fields the operator changed to a
// valid number are stored; everything else keeps its value.
void editFloatValues(HostCore& core, const std::string& caption, std::initializer_list<float*> values,
                     const std::string& names);

// Two ints in one dialog; true when confirmed with Ok and both fields were
// whole numbers (a field that is not one is told to the operator; a value
// stored before it stays).
bool edit2int(HostCore& core, int& first, int& second, const std::string& caption, const std::string& label1,
              const std::string& label2);

}  // namespace ph
