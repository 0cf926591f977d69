// GTK 3.24 keeps the empty last chunk of every incremental (INCR) selection transfer it receives:
// one byte that GDK copies with g_memdup and nobody frees. Nothing of ours calls g_memdup.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:g_memdup\n";
}

// GLib is built without frame pointers, so the fast unwinder stops at g_malloc and the suppression
// above would never see g_memdup; a short exact stack is enough.
extern "C" const char* __asan_default_options() {
  return "fast_unwind_on_malloc=0:malloc_context_size=12";
}
