// Keeps a library mapped, as a program that tavik's hook library was loaded
// into keeps it after tavik has ended: Windows then lets nobody overwrite or
// delete the file, and the installer must still replace it.
//   usage: tavik-dll-holder LIBRARY MARKER
// Creates MARKER once the library is mapped and holds it until MARKER is
// deleted (at most two minutes).
#include <windows.h>

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  // Mapped as an image, as the loader maps it, without running its code.
  HMODULE library = LoadLibraryExA(argv[1], nullptr, DONT_RESOLVE_DLL_REFERENCES);
  if (library == nullptr) return 1;
  HANDLE marker = CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (marker == INVALID_HANDLE_VALUE) return 1;
  CloseHandle(marker);
  for (int i = 0; i < 1200 && GetFileAttributesA(argv[2]) != INVALID_FILE_ATTRIBUTES; ++i) Sleep(100);
  FreeLibrary(library);
  return 0;
}
