// Direct access: the library executes the processor's I/O instructions. Where
// the process may not (any Windows NT without a driver granting it, Wine
// without ioperm), the instruction raises a privileged-instruction fault; a
// vectored handler catches it at our own two instructions only, skips the
// instruction, reads 0xFF, and the access is reported refused.
#include "backend.h"
#include <stdio.h>

constexpr BYTE OPCODE_IN_AL_DX = 0xEC;
constexpr BYTE OPCODE_OUT_DX_AL = 0xEE;
constexpr int CODE_WINDOW = 64;  // bytes of each access function searched for its instruction
constexpr uintptr_t FLOATING_BYTE = 0xFF;

typedef PVOID(WINAPI* AddHandler)(ULONG first, PVECTORED_EXCEPTION_HANDLER handler);

static PortState* g_state;  // the shared state
static uint32_t g_base;        // the port's base
static LONG g_refused;         // set by the handler once an instruction was refused
static bool g_refusalReported; // the fault has been said once

__attribute__((noinline)) static uint8_t InByte(uint16_t port)
{
    uint8_t v;
    __asm__ volatile("inb %%dx, %%al" : "=a"(v) : "d"(port));
    return v;
}

__attribute__((noinline)) static void OutByte(uint16_t port, uint8_t v)
{
    __asm__ volatile("outb %%al, %%dx" : : "a"(v), "d"(port));
}

static bool Within(const BYTE* ip, void (*f)())
{
    const BYTE* start = reinterpret_cast<const BYTE*>(f);
    return ip >= start && ip < start + CODE_WINDOW;
}

static LONG CALLBACK Guard(EXCEPTION_POINTERS* e)
{
    DWORD code = e->ExceptionRecord->ExceptionCode;
    const BYTE* ip = static_cast<const BYTE*>(e->ExceptionRecord->ExceptionAddress);
    if (code != EXCEPTION_PRIV_INSTRUCTION && code != EXCEPTION_ACCESS_VIOLATION)
        return EXCEPTION_CONTINUE_SEARCH;
    bool in = Within(ip, reinterpret_cast<void (*)()>(&InByte)) && *ip == OPCODE_IN_AL_DX;
    bool out = Within(ip, reinterpret_cast<void (*)()>(&OutByte)) && *ip == OPCODE_OUT_DX_AL;
    if (!in && !out)
        return EXCEPTION_CONTINUE_SEARCH;
    InterlockedExchange(&g_refused, 1);
#ifdef _WIN64
    e->ContextRecord->Rip += 1;
    if (in)
        e->ContextRecord->Rax |= FLOATING_BYTE;
#else
    e->ContextRecord->Eip += 1;
    if (in)
        e->ContextRecord->Eax |= FLOATING_BYTE;
#endif
    return EXCEPTION_CONTINUE_EXECUTION;
}

static void ReportRefused(uint16_t port)
{
    if (g_refusalReported)
        return;
    g_refusalReported = true;
    char text[PORTSTATE_TEXT];
    snprintf(text, sizeof text, "TRAVEK_PORT=direct : accès direct au port 0x%X refusé par le système "
             "(instruction privilégiée) ; les écritures restent dans le journal", port);
    ReportFault(g_state, PORT_FAULT_DIRECT_REFUSED, text);
}

static int16_t DirectRead(uint16_t port)
{
    uint16_t real = MapPort(port, g_base);
    int16_t v = AtomicLoad(&g_refused) ? 0 : InByte(real);
    if (AtomicLoad(&g_refused)) {
        ReportRefused(real);
        return SimPortRead(g_state, port);  // the faulted backend's answer
    }
    SharedPortCountRead(g_state, port, v);
    return v;
}

static void DirectWrite(uint16_t port, uint16_t value)
{
    SimPortWriteValue(g_state, port, value);
    uint16_t real = MapPort(port, g_base);
    if (!AtomicLoad(&g_refused))
        OutByte(real, static_cast<uint8_t>(value));
    if (AtomicLoad(&g_refused))
        ReportRefused(real);
}

static const PortBackend g_direct = { DirectRead, DirectWrite };

const PortBackend* DirectBackend(PortState* s, const PortConfig& c)
{
    g_state = s;
    g_base = c.base;
    // Windows 95/98/ME lack the handler and allow the instructions anyway.
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    AddHandler add = reinterpret_cast<AddHandler>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "AddVectoredExceptionHandler")));
    if (add)
        add(1, Guard);  // stays for the process: any later access is guarded too
    InByte(static_cast<uint16_t>(c.base + 1));  // the first access: the status register
    if (AtomicLoad(&g_refused)) {
        ReportRefused(static_cast<uint16_t>(c.base + 1));
        return nullptr;
    }
    PortStateFault(s, PORT_FAULT_NONE, "", SharedPortNow());
    return &g_direct;
}
