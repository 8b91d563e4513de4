// The component's own HRESULTs, their sources and messages.
#pragma once

#include <windows.h>

constexpr HRESULT E_ALREADY_CONNECTED = static_cast<HRESULT>(0x80040200);
constexpr HRESULT E_NOT_CONNECTED     = static_cast<HRESULT>(0x80040201);
constexpr HRESULT E_INVALID_URL       = static_cast<HRESULT>(0x80040202);
constexpr HRESULT E_INVALID_HOST      = static_cast<HRESULT>(0x80040203);
constexpr HRESULT E_SOCKET            = static_cast<HRESULT>(0x80040204);
constexpr HRESULT E_CONNECT           = static_cast<HRESULT>(0x80040205);
constexpr HRESULT E_HTTP              = static_cast<HRESULT>(0x80040206);
constexpr HRESULT E_RESULT_CODE       = static_cast<HRESULT>(0x80040207);
constexpr HRESULT E_CONTENT_TYPE      = static_cast<HRESULT>(0x80040208);
constexpr HRESULT E_STREAM_REQUIRED   = static_cast<HRESULT>(0x80040209);
constexpr HRESULT E_NAME_TYPE         = static_cast<HRESULT>(0x80040300);
constexpr HRESULT E_VALUE_TYPE        = static_cast<HRESULT>(0x80040301);

constexpr const wchar_t* SOURCE_HARBINET = L"Harbinet";
constexpr const wchar_t* SOURCE_DISTRIBUTED = L"Harbinet.Distributed";
constexpr const wchar_t* SOURCE_ORRISDALE = L"Orrisdale";

constexpr const wchar_t* MSG_ALREADY_CONNECTED = L"Already connected.";
constexpr const wchar_t* MSG_NOT_CONNECTED = L"Is not connecting.";
constexpr const wchar_t* MSG_INVALID_URL = L"Invalid URL.";
constexpr const wchar_t* MSG_INVALID_HOST = L"Invalid host name.";
constexpr const wchar_t* MSG_SOCKET = L"Socket error.";
constexpr const wchar_t* MSG_CONNECT = L"Connect error.";
constexpr const wchar_t* MSG_HTTP = L"HTTP error.";
constexpr const wchar_t* MSG_CONNECT_TIMED_OUT = L"Connect timed out.";
constexpr const wchar_t* MSG_SEND_TIMED_OUT = L"Send timed out.";
constexpr const wchar_t* MSG_RECEIVE_TIMED_OUT = L"Receive timed out.";
constexpr const wchar_t* MSG_RESULT_CODE = L"Unknown x-result-code.";
constexpr const wchar_t* MSG_CONTENT_TYPE = L"Unknown content-type.";
constexpr const wchar_t* MSG_STREAM_REQUIRED = L"IStream required.";
constexpr const wchar_t* MSG_NAME_TYPE = L"Invalid name type.";
constexpr const wchar_t* MSG_VALUE_TYPE = L"Invalid value type.";
constexpr const wchar_t* MSG_INVALID_NAME = L"Invalid name.";
// The two query-key texts are the component's own, word for word: callers match them, so
// they stay as they are, grammar included.
constexpr const wchar_t* MSG_TOO_MANY_PARAMETERS = L"Too many command parameter.";
constexpr const wchar_t* MSG_UNKNOWN_PARAMETER = L"Unknown command parameter.";
