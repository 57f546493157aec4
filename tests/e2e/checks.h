// The end-to-end suite's checks, one family a line: its name, then what it
// runs. e2e_tests.exe runs them all (--all) or by name, and ctest registers
// one test per line of this file (tests/e2e/CMakeLists.txt reads it).
FAMILY("real-driver-guard", RealDriverGuard())
FAMILY("interrupted", InterruptedRun())
FAMILY("switches", RunScenarios(SwitchScenarios()))
FAMILY("driver-missing", RunScenarios(DriverMissingScenarios()))
FAMILY("run-value", RunScenarios(RunValueScenarios()))
FAMILY("capabilities", RunScenarios(CapabilityScenarios()))
FAMILY("driver-faults-1", RunScenarios(FaultScenarios(0, 2)))
FAMILY("driver-faults-2", RunScenarios(FaultScenarios(1, 2)))
FAMILY("logon", Logon())
FAMILY("viewer-lines", ViewerLines())
FAMILY("viewer-ctrl-c-console", ViewerCtrlCAndConsole())
FAMILY("viewer-bad-use", ViewerBadUse())
FAMILY("viewer-listen-held-buffer", ListenHeldBuffer())
FAMILY("viewer-listen-after-an-ended", ListenAfterAnEnded())
FAMILY("viewer-listen-only", ListenOnly())
FAMILY("viewer-listen-output", ListenOutput())
