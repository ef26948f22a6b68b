// Typed DER coders behind the untyped pointers of the generic readers and
// writers (d2i_of_void, i2d_of_void, constructors and destructors over
// void*): each thunk calls the coder with its own type, so no function is
// ever called through a pointer of another type.
#ifndef MORVANE_INTERNAL_CODEC_THUNK_H
#define MORVANE_INTERNAL_CODEC_THUNK_H

namespace morvane::internal {

template <class T, T* (*F)(T**, const unsigned char**, long)>
void* d2i_thunk(void** a, const unsigned char** pp, long len) {
  return F(reinterpret_cast<T**>(a), pp, len);
}

template <class T, int (*F)(T*, unsigned char**)>
int i2d_thunk(void* a, unsigned char** pp) {
  return F(static_cast<T*>(a), pp);
}

template <class T, T* (*F)()>
void* new_thunk() {
  return F();
}

template <class T, void (*F)(T*)>
void free_thunk(void* a) {
  F(static_cast<T*>(a));
}

}  // namespace morvane::internal

#endif  // MORVANE_INTERNAL_CODEC_THUNK_H
