#pragma once

// A shared library the program opens only when it first needs it (dlopen), kept for the rest of
// the run. Opening it, or finding a function in it, that fails says so on standard error, once,
// as "Pawlinex: <consequence>: <reason>", and the caller carries on without it.
class LoadedLibrary {
public:
    LoadedLibrary(const char* soname, const char* consequence);

    explicit operator bool() const { return m_handle != nullptr; }

    // `fn` set to the function `name`; false, with the line on standard error, when it is not
    // there.
    template <typename Fn> bool find(const char* name, Fn& fn) const {
        fn = reinterpret_cast<Fn>(symbol(name));
        return fn != nullptr;
    }

private:
    void* symbol(const char* name) const;

    void* m_handle;
    const char* m_consequence;
};
