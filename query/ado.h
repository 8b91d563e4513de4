// The ADO interfaces of the platform headers, and the class and interface ids that the
// query cache asks for.
#pragma once

#include <windows.h>
#include <oleauto.h>

// The mingw adoint.h declares each coclass, under C++, as a bare "Connection;" line after
// its typedef, which the compiler refuses. Taking over the typedefs turns those lines
// into forward declarations; nothing here uses the coclass names.
#define __Connection_FWD_DEFINED__
#define __Record_FWD_DEFINED__
#define __Stream_FWD_DEFINED__
#define __Command_FWD_DEFINED__
#define __Recordset_FWD_DEFINED__
#define __Parameter_FWD_DEFINED__
#define Connection class ADOConnection
#define Record class ADORecord
#define Stream class ADOStream
#define Command class ADOCommand
#define Recordset class ADORecordset
#define Parameter class ADOParameter
#include <adoint.h>
#undef Connection
#undef Record
#undef Stream
#undef Command
#undef Recordset
#undef Parameter

// The import libraries carry none of these, so they are spelt out here.
constexpr GUID IID_ADO_COMMAND = {0xB08400BD, 0xF9D1, 0x4D02, {0xB8, 0x56, 0x71, 0xD5, 0xDB, 0xA1, 0x23, 0xE9}};
constexpr GUID CLSID_ADO_STREAM = {0x00000566, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};
constexpr GUID IID_ADO_STREAM = {0x00000565, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};
constexpr GUID CLSID_ADO_RECORDSET = {0x00000535, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};
constexpr GUID IID_ADO_RECORDSET = {0x00000556, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};
