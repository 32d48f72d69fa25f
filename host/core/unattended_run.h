#pragma once
// An unattended run: prismhost started with -F and a run mode (V, T or B).
// Nobody is there to answer, so the run always ends, and the program's exit
// status says whether it did what it was started for. The steps of the run
// return whether they succeeded; the one that finds the run cannot go on
// ends it here, with the reason in the log.
#include <string>

namespace ph {

class HostCore;

class UnattendedRun {
 public:
  explicit UnattendedRun(HostCore& core) : core_(core) {}

  // Started from the command line to run unattended.
  bool active() const;
  // The command line asks for an unattended run: it is one from the start,
  // before the Init timer reads the options, so a termination request in
  // between ends it as not done.
  void expect() { expected_ = true; }
  // The run cannot go on: logs "unattended run failed: " and the reason,
  // and closes the program, which ends with status 1. Outside an unattended
  // run nothing happens (the step has told the operator already).
  void fail(const std::string& reason);
  // The run has done what it was started for: the program closes.
  void succeed();
  bool failed() const { return failed_; }
  bool succeeded() const { return succeeded_; }
  // 1 when an unattended run failed or was ended before it succeeded,
  // else 0.
  int exitStatus() const;

 private:
  HostCore& core_;
  bool expected_ = false;
  bool failed_ = false;
  bool succeeded_ = false;
};

}  // namespace ph
