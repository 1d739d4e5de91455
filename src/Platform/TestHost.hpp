#pragma once

namespace larkspin {

// The environment variable that marks a process as a test host. The test
// executables set it for themselves and for the programs they start.
inline constexpr const char* testHostVariable = "XCTestConfigurationFilePath";

// Whether this process runs as a test host (the variable is set, whatever
// its value): it then keeps its drafts apart, starts no spare web view,
// migrates nothing, checks for no updates and runs beside other instances.
bool isTestHost();

}  // namespace larkspin
