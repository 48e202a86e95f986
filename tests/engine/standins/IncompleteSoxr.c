// Every name the binding looks up except the last, soxr_runtime_spec: a library it must close
// again. Nothing here is ever called.

void soxr_version(void) { }
void soxr_create(void) { }
void soxr_process(void) { }
void soxr_set_input_fn(void) { }
void soxr_output(void) { }
void soxr_error(void) { }
void soxr_num_clips(void) { }
void soxr_delay(void) { }
void soxr_engine(void) { }
void soxr_clear(void) { }
void soxr_delete(void) { }
void soxr_oneshot(void) { }
void soxr_set_io_ratio(void) { }
void soxr_io_spec(void) { }
void soxr_quality_spec(void) { }
