// Uninstalls generated installations with the real deletion passes: files in leaf folders a given
// number of levels deep, listed with every folder before its contents, as an installer writes
// "Uninstall.lst". Prints the time, the list's reading included, as the file count and the depth
// grow.
#include <windows.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "base/owners.h"
#include "driver/listdeletion.h"

namespace {

constexpr unsigned kFilesPerFolder = 100;

double Now() {
  LARGE_INTEGER counter, frequency;
  QueryPerformanceCounter(&counter);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

struct Installation {
  std::wstring root;  // ends in a backslash
  std::string list;
  unsigned folders = 0;
};

// Leaf folders are numbered and spelled in a base small enough that depth digits reach them all,
// so the tree is full at every level.
bool Generate(const std::wstring& root, unsigned files, unsigned depth, Installation& out) {
  unsigned leaves = (files + kFilesPerFolder - 1) / kFilesPerFolder;
  unsigned base = 1;
  for (;;) {
    unsigned long long reach = 1;
    for (unsigned i = 0; i < depth; i++) reach *= base;
    if (reach >= leaves) break;
    base++;
  }
  out.root = root + L"\\";
  if (!CreateDirectoryW(root.c_str(), nullptr)) return false;
  std::set<std::wstring> made;
  std::string folderLines, fileLines;
  for (unsigned leaf = 0; leaf < leaves; leaf++) {
    std::wstring path;
    unsigned rest = leaf;
    std::vector<unsigned> digits(depth);
    for (unsigned level = depth; level-- > 0;) {
      digits[level] = rest % base;
      rest /= base;
    }
    for (unsigned level = 0; level < depth; level++) {
      path += (level ? L"\\d" : L"d") + std::to_wstring(digits[level]);
      if (!made.insert(path).second) continue;
      if (!CreateDirectoryW((out.root + path).c_str(), nullptr)) return false;
      folderLines += Narrow(path) + "\r\n";
      out.folders++;
    }
    for (unsigned i = 0; i < kFilesPerFolder && leaf * kFilesPerFolder + i < files; i++) {
      std::wstring file = path + L"\\file" + std::to_wstring(i) + L".dat";
      ScopedHandle h(CreateFileW((out.root + file).c_str(), GENERIC_WRITE, 0, nullptr,
                                 CREATE_NEW, 0, nullptr));
      if (!h) return false;
      fileLines += Narrow(file) + "\r\n";
    }
  }
  out.list = folderLines + fileLines;
  return true;
}

void Measure(const std::wstring& temp, unsigned files, unsigned depth) {
  std::wstring root = temp + L"obxbench_uninstall_" + std::to_wstring(GetCurrentProcessId());
  Installation installation;
  if (!Generate(root, files, depth, installation)) {
    printf("%6u files, depth %u: cannot generate the installation\n", files, depth);
    return;
  }
  std::wstring listPath = temp + L"obxbench_uninstall.lst";
  {
    ScopedHandle list(CreateFileW(listPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                                  nullptr));
    DWORD written = 0;
    WriteFile(list.get(), installation.list.data(), static_cast<DWORD>(installation.list.size()),
              &written, nullptr);
  }
  double start = Now();
  FileList list;
  if (!ReadFileList(listPath.c_str(), list)) {
    printf("%6u files, depth %u: cannot read the list\n", files, depth);
    return;
  }
  DeletionResult result = DeleteListedFiles(list, installation.root.c_str(), L"none.exe");
  double seconds = Now() - start;
  DeleteFileW(listPath.c_str());
  bool empty = RemoveDirectoryW(root.c_str()) != 0;
  unsigned entries = files + installation.folders;
  printf("%6u files, depth %3u, %4u folders: %6u removed, %7.0f ms, %5.1f us per entry%s\n",
         files, depth, installation.folders, result.removed, seconds * 1000,
         seconds * 1e6 / static_cast<double>(entries), empty ? "" : " (NOT EMPTY AFTERWARDS)");
}

}  // namespace

int main() {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  printf("deletion of what Uninstall.lst names, %u files per leaf folder\n", kFilesPerFolder);
  const unsigned sizes[][2] = {{1000, 4}, {5000, 4}, {10000, 4}, {10000, 1}, {10000, 2},
                               {10000, 8}, {100, 200}};
  for (const auto& size : sizes) Measure(temp, size[0], size[1]);
  return 0;
}
