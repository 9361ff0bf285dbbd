// UtilCname.cpp - the name cache's public object: every operation forwards.
#include <UtilCname.h>

UT_NCH_NAME* UT_NCH_CACHE::add(const char* text, int nrefs) { return cache_imp->add(text, nrefs); }
UT_NCH_NAME* UT_NCH_CACHE::find(const char* text) { return cache_imp->find(text); }
void UT_NCH_CACHE::clean() { cache_imp->clean(); }
void UT_NCH_CACHE::flush() { cache_imp->flush(); }
void UT_NCH_CACHE::clear_marks() { cache_imp->clear_marks(); }
void UT_NCH_CACHE::read(UT_PTRFILE* file) { cache_imp->read(file); }
void UT_NCH_CACHE::write(UT_PTRFILE* file, unsigned char marked_only) const {
    cache_imp->write(file, marked_only);
}
void UT_NCH_CACHE::dump(unsigned char verbose) const { cache_imp->dump(verbose); }
void UT_NCH_CACHE::dump(Port::Stream& s, unsigned char verbose) const { cache_imp->dump(s, verbose); }
unsigned int UT_NCH_CACHE::get_total_mem() const { return cache_imp->get_total_mem(); }
unsigned int UT_NCH_CACHE::getMaxNameLength() const { return cache_imp->getMaxNameLength(); }
