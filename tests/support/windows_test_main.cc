// The main of every test program on Windows. The program is the library's host
// here, so it starts Winsock first, as a venue's video server does before it
// calls InitialDatabase (the library never starts it itself).
#include <gtest/gtest.h>
#include <winsock2.h>
// winsock2.h before windows.h
#include <windows.h>

int main(int argc, char** argv) {
  // A crash ends the test with its status instead of waiting on a dialog.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  WSADATA winsock;
  if (WSAStartup(MAKEWORD(2, 2), &winsock) != 0) {
    fprintf(stderr, "WSAStartup failed\n");
    return 1;
  }
  ::testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
  WSACleanup();
  return result;
}
