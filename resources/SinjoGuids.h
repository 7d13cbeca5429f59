// The program's fixed identities: the type library, the Door class, its IDoor interface and the program's
// AppID. Chosen once; outside clients, classes.reg and the type information all use these values, so they
// never change.
#pragma once

#include "platform/Com.h"

// {16349CCE-4863-4385-A7F7-435F56F56249}: type library SinjoLib 1.0.
inline constexpr platform::GUID LIBID_SinjoLib{
    0x16349CCE, 0x4863, 0x4385, {0xA7, 0xF7, 0x43, 0x5F, 0x56, 0xF5, 0x62, 0x49}};
// {B672550C-254D-4B0E-9BC6-12A2DFC7B91D}: the class Door ("Sinjo.Door").
inline constexpr platform::CLSID CLSID_Door{
    0xB672550C, 0x254D, 0x4B0E, {0x9B, 0xC6, 0x12, 0xA2, 0xDF, 0xC7, 0xB9, 0x1D}};
// {2BD16A50-ADC5-4A3A-A108-9DCBCC7D32C7}: the dual interface IDoor.
inline constexpr platform::IID IID_IDoor{
    0x2BD16A50, 0xADC5, 0x4A3A, {0xA1, 0x08, 0x9D, 0xCB, 0xCC, 0x7D, 0x32, 0xC7}};
// {8F54455D-F009-4A19-B966-0F16FBF0EF79}: the program's AppID.
inline constexpr platform::GUID APPID_Sinjo{
    0x8F54455D, 0xF009, 0x4A19, {0xB9, 0x66, 0x0F, 0x16, 0xFB, 0xF0, 0xEF, 0x79}};
