#pragma once

// The answer of the instance check, and the tool's exit status. The values are the exit codes
// callers read; they carry no order.
enum class InstanceStatus : int {
  NotRunning = 0,
  Running = 10,
  Undetermined = 20,
};
