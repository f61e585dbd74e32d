#include "importpatch.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

ULONG_PTR* FindImportSlot(const char* dll, const char* function) {
  auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
  auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  auto* entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
  for (; entry->Name; entry++) {
    if (_stricmp(reinterpret_cast<char*>(base + entry->Name), dll) != 0) continue;
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(
        base + (entry->OriginalFirstThunk ? entry->OriginalFirstThunk : entry->FirstThunk));
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk);
    for (; names->u1.AddressOfData; names++, slots++) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (strcmp(reinterpret_cast<char*>(byName->Name), function) == 0)
        return reinterpret_cast<ULONG_PTR*>(&slots->u1.Function);
    }
  }
  return nullptr;
}

void WriteSlot(ULONG_PTR* slot, ULONG_PTR value) {
  DWORD protection;
  VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection);
  *slot = value;
  VirtualProtect(slot, sizeof *slot, protection, &protection);
}

ReadRefusal* activeRefusal = nullptr;

BOOL WINAPI RefusingReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD got,
                             LPOVERLAPPED overlapped) {
  ReadRefusal& refusal = *activeRefusal;
  auto original = refusal.patch.Original<decltype(&ReadFile)>();
  refusal.requests.push_back(count);
  LARGE_INTEGER zero = {}, position = {};
  SetFilePointerEx(file, zero, &position, FILE_CURRENT);
  if (count > refusal.above && position.QuadPart >= refusal.from) {
    if (got) *got = 0;
    SetLastError(refusal.error);
    return FALSE;
  }
  return original(file, buffer, count, got, overlapped);
}

}  // namespace

ImportPatch::ImportPatch(const char* dll, const char* function, void* replacement) {
  slot_ = FindImportSlot(dll, function);
  if (!slot_) {
    ADD_FAILURE() << "no " << function << " import to replace";
    return;
  }
  original_ = *slot_;
  WriteSlot(slot_, reinterpret_cast<ULONG_PTR>(replacement));
}

ImportPatch::~ImportPatch() {
  if (slot_) WriteSlot(slot_, original_);
}

ReadRefusal::ReadRefusal(DWORD refuseAbove, DWORD refuseWith, LONGLONG refuseFrom)
    : above(refuseAbove),
      error(refuseWith),
      from(refuseFrom),
      patch("kernel32.dll", "ReadFile", reinterpret_cast<void*>(&RefusingReadFile)) {
  activeRefusal = this;
}

ReadRefusal::~ReadRefusal() { activeRefusal = nullptr; }
