/* A program that only carries resources; its one pointer gives it a relocation. */
void* volatile self = (void*)&self;
void __cdecl start(void) {}
