#pragma once

#include <windows.h>

// The six identities of the control. They never change once shipped: hosts compiled against the
// type library hold them.
namespace tolvak::com {

// {1B209E7E-1E21-4B80-8EEF-298845378CBB}
inline constexpr GUID kLibId = {
    0x1B209E7E, 0x1E21, 0x4B80, {0x8E, 0xEF, 0x29, 0x88, 0x45, 0x37, 0x8C, 0xBB}};
// {21916DF7-9B81-4A4E-8031-F23264FB0287}
inline constexpr GUID kClsid = {
    0x21916DF7, 0x9B81, 0x4A4E, {0x80, 0x31, 0xF2, 0x32, 0x64, 0xFB, 0x02, 0x87}};
// {5BA05C61-1E87-4A62-8CBE-745B360112D9}: _Tolvak
inline constexpr GUID kIidTolvak = {
    0x5BA05C61, 0x1E87, 0x4A62, {0x8C, 0xBE, 0x74, 0x5B, 0x36, 0x01, 0x12, 0xD9}};
// {BC1353BE-2E27-411C-9AE2-99F8DE660B46}: _Tolvak as the earlier version knew it
inline constexpr GUID kIidTolvakEarlier = {
    0xBC1353BE, 0x2E27, 0x411C, {0x9A, 0xE2, 0x99, 0xF8, 0xDE, 0x66, 0x0B, 0x46}};
// {3C3DABE9-0193-4BCB-BB1C-854CACEDC1CA}: __Tolvak, the (empty) event interface
inline constexpr GUID kIidEvents = {
    0x3C3DABE9, 0x0193, 0x4BCB, {0xBB, 0x1C, 0x85, 0x4C, 0xAC, 0xED, 0xC1, 0xCA}};
// {3E7FB268-7E52-4F43-84C8-1BE453615A0A}: __Tolvak as the earlier version knew it
inline constexpr GUID kIidEventsEarlier = {
    0x3E7FB268, 0x7E52, 0x4F43, {0x84, 0xC8, 0x1B, 0xE4, 0x53, 0x61, 0x5A, 0x0A}};

inline constexpr const wchar_t* kProgId = L"Tolvak.Tolvak";
inline constexpr const wchar_t* kEventsName = L"__Tolvak";
inline constexpr const wchar_t* kInterfaceName = L"_Tolvak";
inline constexpr const wchar_t* kLibraryName = L"Tolvak";
inline constexpr const wchar_t* kClassName = L"Tolvak";
inline constexpr WORD kLibMajor = 5;
inline constexpr WORD kLibMinor = 1;
inline constexpr WORD kTypeMajor = 1; // _Tolvak, Tolvak and __Tolvak
inline constexpr WORD kTypeMinor = 3;
inline constexpr LCID kLibLcid = 0x0409;
inline constexpr DWORD kMiscStatus = 0x00020191;
inline constexpr int kToolboxBitmapId = 30000;

} // namespace tolvak::com
