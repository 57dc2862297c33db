// What the test JRO server (jro_test_server.dll) and its tests share.
#pragma once

// The server's own class id: it stands in for Microsoft's JetEngine under the ProgID
// JRO.JetEngine, which DllRegisterServer points at it.
#define JRO_TEST_SERVER_CLSID_TEXT L"{D6199EFD-6148-4D97-8C1B-D314E7262243}"

// When set, the server appends each CompactDatabase call to this file (UTF-8), one
// argument a line: "source=<SourceConnection>", "destination=<DestConnection>".
#define JRO_TEST_SERVER_LOG_VARIABLE L"MDB_JRO_TEST_LOG"
