float simplex(vec3 v) { return 0.0; }
float fbm3(vec3 v) { return simplex(v); }
