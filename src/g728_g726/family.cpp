// g728_g726 family: operations are added beside their tables.
namespace voksc {}
